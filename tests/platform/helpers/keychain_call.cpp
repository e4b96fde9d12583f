// One keychain call from a process of its own, so that it reaches whatever session bus
// (or none) its environment names. Usage: keychain_call <service> write|read|remove
// Prints one line: "done <outcome>" (write: "stored"; read: "absent" or "found";
// remove: "removed" or "none"), or "failed <kind> <description>" with the kind
// noSecretService, refused, timedOut or failed. Exit code 0 when it printed one.
#include "platform/Keychain.h"

#include <QCoreApplication>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <cstdio>

namespace {

const char *kindName(kovra::KeychainError::Kind kind)
{
    using Kind = kovra::KeychainError::Kind;
    switch (kind) {
    case Kind::noSecretService: return "noSecretService";
    case Kind::refused: return "refused";
    case Kind::timedOut: return "timedOut";
    case Kind::failed: break;
    }
    return "failed";
}

QCoro::Task<QString> call(QString service, QString operation)
{
    const kovra::Keychain keychain(service);
    const QString account = QStringLiteral("jwt");
    try {
        if (operation == u"write") {
            co_await keychain.write(account, "secret-of-the-helper");
            co_return QStringLiteral("done stored");
        }
        if (operation == u"read") {
            const std::optional<QByteArray> secret = co_await keychain.read(account);
            co_return secret ? QStringLiteral("done found") : QStringLiteral("done absent");
        }
        const bool removed = co_await keychain.remove(account);
        co_return removed ? QStringLiteral("done removed") : QStringLiteral("done none");
    } catch (const kovra::KeychainError &e) {
        co_return QStringLiteral("failed %1 %2").arg(QLatin1String(kindName(e.kind())), e.description());
    }
}

QCoro::Task<void> run(QString service, QString operation)
{
    const QString line = co_await call(service, operation);
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    QCoreApplication::exit(0);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 2 || !QStringList{u"write"_qs, u"read"_qs, u"remove"_qs}.contains(args[1]))
        return 2;
    QTimer::singleShot(0, &app, [&args] { run(args[0], args[1]); });
    return app.exec();
}
