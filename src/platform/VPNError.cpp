#include "platform/VPNError.h"

namespace kovra {

VPNError::VPNError(int code, QString message, QString domain)
    : m_domain(std::move(domain)), m_code(code), m_message(std::move(message))
{
}

QString VPNError::description() const
{
    return QStringLiteral("%1 error %2: %3").arg(m_domain).arg(m_code).arg(m_message);
}

} // namespace kovra
