#include "platform/AppleIDProvider.h"

#include "platform/L10n.h"

#include <QObject>

namespace kovra {

QString AppleIDAuthorizationError::description() const
{
    return QStringLiteral("authorization error %1: %2").arg(m_code).arg(m_message);
}

QString AppleIDUnavailableError::localizedDescription() const
{
    return L10n::text("apple.signin.unavailable", u"Вход через Apple недоступен в этой системе.");
}

namespace {

class UnavailableAppleIDProvider final : public AppleIDProvider {
public:
    bool isAvailable() const override { return false; }

    void performRequest(AppleIDRequest, Callbacks callbacks) override
    {
        // Answered from the event loop, like a real provider; not at all once this
        // provider is gone.
        QMetaObject::invokeMethod(
            &m_context, [failed = std::move(callbacks.failed)] {
                if (failed)
                    failed(std::make_exception_ptr(AppleIDUnavailableError()));
            },
            Qt::QueuedConnection);
    }

private:
    QObject m_context;
};

} // namespace

std::unique_ptr<AppleIDProvider> makeSystemAppleIDProvider()
{
    return std::make_unique<UnavailableAppleIDProvider>();
}

} // namespace kovra
