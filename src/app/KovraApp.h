#pragma once

#include "app/AppCommands.h"
#include "app/AppDependencies.h"
#include "app/AppOptions.h"
#include "ui/main/ConnectCoordinator.h"
#include "platform/Cancellation.h"

#include <QObject>
#include <QSize>
#include <QString>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

namespace kovra {

// The app: builds every long-lived object once, in a fixed order, and keeps the
// container, the connect model and the connection commands for the life of the
// process. The executable builds one, awaits restoreSession() and only then shows
// its windows, which get this object (or its parts) handed down. Lives on the GUI
// thread.
class KovraApp : public QObject {
    Q_OBJECT
    Q_PROPERTY(kovra::AppDependencies *dependencies READ dependencies CONSTANT)
    Q_PROPERTY(kovra::ConnectCoordinator *connect READ connect CONSTANT)
    Q_PROPERTY(kovra::AppCommands *commands READ commands CONSTANT)
public:
    // The main window: its scene identifier, first size and its content's least size.
    static inline const QString kMainWindowID = QStringLiteral("kovra-main");
    static constexpr QSize kMainWindowDefaultSize{780, 520};
    static constexpr QSize kMainContentMinimumSize{640, 460};

    // Builds everything; starts no request, no refresh and no tunnel work. Throws
    // std::invalid_argument without a config folder in `options.paths`.
    explicit KovraApp(AppOptions options, QObject *parent = nullptr);
    ~KovraApp() override;

    AppDependencies *dependencies() const { return m_dependencies.get(); }
    ConnectCoordinator *connect() const { return m_connect.get(); }
    AppCommands *commands() const { return m_commands.get(); }

    // Reads the session's first status from the token store; until it ends the
    // status is anonymous. Meanwhile checks that the session bus the keyring is reached
    // through answers, and logs once (category "kovra.App") when it does not. Never
    // throws.
    QCoro::Task<void> restoreSession();

    // The main window's content came on screen: the API warm-up runs (one at a time;
    // a new one replaces a running one).
    Q_INVOKABLE void mainContentShown();
    // It went away: a running warm-up is cancelled.
    Q_INVOKABLE void mainContentHidden();
    // Between mainContentShown() and mainContentHidden(): a warm-up was started for the
    // content on screen (it may have ended since) and not cancelled.
    bool isWarmupStarted() const { return m_warmup.has_value(); }

    // A new API client over the app's sessions and base URLs, with a keychain store
    // of its own as token provider and an app-group store of its own (which keeps its
    // own active base URL).
    static std::unique_ptr<APIClient> makeAPIClient(const AppOptions &options, APIClient::Sessions sessions);

private:
    std::unique_ptr<AppDependencies> m_dependencies;
    std::unique_ptr<ConnectCoordinator> m_connect;
    std::unique_ptr<AppCommands> m_commands;
    std::optional<CancellationSource> m_warmup;
};

} // namespace kovra
