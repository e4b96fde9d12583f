#include "account/GoogleSignInConfig.h"

#include "platform/Log.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#ifndef KOVRA_GID_CLIENT_ID
#define KOVRA_GID_CLIENT_ID ""
#endif
#ifndef KOVRA_GID_CLIENT_SECRET
#define KOVRA_GID_CLIENT_SECRET ""
#endif

namespace kovra {

using namespace Qt::StringLiterals;

namespace {
constexpr qint64 kMaxFileBytes = 64 * 1024;
}

GoogleSignInConfig GoogleSignInConfig::builtIn()
{
    GoogleSignInConfig config;
    config.clientID = QString::fromUtf8(KOVRA_GID_CLIENT_ID);
    config.clientSecret = QString::fromUtf8(KOVRA_GID_CLIENT_SECRET);
    return config;
}

GoogleSignInConfig GoogleSignInConfig::load(const QString &file, GoogleSignInConfig base)
{
    QFile f(file);
    if (!f.exists())
        return base;
    const Logger log(u"GoogleAuth"_s);
    if (!f.open(QIODevice::ReadOnly)) {
        log.error(u"config: cannot read %1: %2"_s.arg(file, f.errorString()));
        return base;
    }
    const QByteArray bytes = f.read(kMaxFileBytes + 1);
    if (bytes.size() > kMaxFileBytes) {
        log.error(u"config: %1 is larger than %2 bytes"_s.arg(file).arg(kMaxFileBytes));
        return base;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (!document.isObject()) {
        log.error(u"config: %1 is not a JSON object"_s.arg(file));
        return base;
    }
    const QJsonObject object = document.object();
    const auto take = [&](const QString &key, QString &field) {
        const QString value = object.value(key).toString();
        if (!value.trimmed().isEmpty())
            field = value.trimmed();
    };
    take(u"GIDClientID"_s, base.clientID);
    take(u"GIDClientSecret"_s, base.clientSecret);
    return base;
}

QString GoogleSignInConfig::configFile(const PlatformPaths &paths)
{
    return paths.configFolder() + u"/google-sign-in.json"_s;
}

} // namespace kovra
