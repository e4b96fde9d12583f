#pragma once

#include "platform/Error.h"

#include <QString>

namespace kovra {

// A failure of the tunnel layer or one the provider reports, in the VPN error domain.
class VPNError : public Error {
public:
    enum Code {
        ConfigurationInvalid = 1,
        ConfigurationDisabled = 2,
        ConnectionFailed = 3,
        ConfigurationStale = 4,
        ConfigurationReadWriteFailed = 5,
    };
    static constexpr const char *kDomain = "VPNErrorDomain";

    VPNError(int code, QString message, QString domain = QString::fromLatin1(kDomain));

    QString domain() const { return m_domain; }
    int code() const { return m_code; }
    QString message() const { return m_message; }
    // "VPNErrorDomain error 2: configuration is disabled"
    QString description() const override;

private:
    QString m_domain;
    int m_code;
    QString m_message;
};

} // namespace kovra
