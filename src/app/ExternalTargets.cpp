#include "app/ExternalTargets.h"

#include "platform/Json.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace kovra {
namespace {

// An absolute http(s) URL with a host.
QString urlAt(const JsonDecodingContainer &c, const char *key)
{
    const QString text = c.decode<QString>(key);
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty())
        throw c.dataCorruptedError(key, QStringLiteral("not an absolute http(s) URL"));
    return text;
}

// A host name or address: non-empty, without spaces, slashes or a scheme.
QString hostAt(const JsonDecodingContainer &c, const char *key)
{
    const QString text = c.decode<QString>(key);
    const bool bad = text.isEmpty() || text.size() > 253
                     || std::any_of(text.cbegin(), text.cend(), [](QChar ch) {
                            return ch.isSpace() || ch == u'/' || ch == u'\\' || ch == u'@' || ch == u'?' || ch == u'#';
                        });
    if (bad)
        throw c.dataCorruptedError(key, QStringLiteral("not a host name or address"));
    return text;
}

quint16 portAt(const JsonDecodingContainer &c, const char *key)
{
    const qint64 port = c.decode<qint64>(key);
    if (port < 1 || port > 65535)
        throw c.dataCorruptedError(key, QStringLiteral("not a port (1 to 65535)"));
    return quint16(port);
}

QString wordAt(const JsonDecodingContainer &c, const char *key)
{
    const QString text = c.decode<QString>(key).trimmed();
    if (text.isEmpty())
        throw c.dataCorruptedError(key, QStringLiteral("empty"));
    return text;
}

struct NamedURL {
    QString name;
    QString url;
    static NamedURL decode(const JsonDecodingContainer &c) { return {wordAt(c, "name"), urlAt(c, "url")}; }
};

struct SelfTest {
    ConnectivityTargets targets;
    static SelfTest decode(const JsonDecodingContainer &c)
    {
        return {{hostAt(c, "resolver_address"), portAt(c, "resolver_port"), hostAt(c, "first_name"),
                 hostAt(c, "second_name"), urlAt(c, "trace_url"), urlAt(c, "check_url"), wordAt(c, "check_label")}};
    }
};

struct DiagnosticsRun {
    DiagnosticsTargets targets;
    static DiagnosticsRun decode(const JsonDecodingContainer &c)
    {
        DiagnosticsTargets t;
        t.resolverURL = urlAt(c, "ip_url");
        t.exitAddressURL = urlAt(c, "exit_ip_url");
        t.testDomainURL = urlAt(c, "test_domain_url");
        // The probe names show the hosts.
        t.exitAddressHost = QUrl(t.exitAddressURL).host();
        t.testDomain = QUrl(t.testDomainURL).host();
        t.resolverAddress = hostAt(c, "resolver_address");
        t.resolverPort = portAt(c, "resolver_port");
        t.resolverDomain = hostAt(c, "resolve_name");
        t.entryHost = hostAt(c, "entry_host");
        t.entryPort = portAt(c, "entry_port");
        return {t};
    }
};

struct ControlPlane {
    QString checkURL;
    static ControlPlane decode(const JsonDecodingContainer &c) { return {urlAt(c, "check_url")}; }
};

struct TargetsFile {
    ExternalTargets targets;
    static TargetsFile decode(const JsonDecodingContainer &c)
    {
        const QList<NamedURL> named = c.decode<QList<NamedURL>>("reachability");
        ExternalTargets t;
        if (named.size() != t.reachability.size())
            throw c.dataCorruptedError("reachability", QStringLiteral("expected %1 services").arg(t.reachability.size()));
        for (qsizetype i = 0; i < named.size(); ++i) {
            t.reachability[i].name = named.at(i).name;
            t.reachability[i].url = named.at(i).url;
        }
        t.selfTest = c.decode<SelfTest>("self_test").targets;
        t.diagnosticsRun = c.decode<DiagnosticsRun>("diagnostics_run").targets;
        t.controlCheckURL = c.decode<ControlPlane>("control_plane").checkURL;
        return {t};
    }
};

[[noreturn]] void fail(const QString &file, const QString &reason)
{
    throw StartupError(QStringLiteral("KOVRA_TARGETS_FILE %1: %2").arg(file, reason));
}

} // namespace

ExternalTargets ExternalTargets::load(const QString &file)
{
    QFile f(file);
    if (!QFileInfo(file).isFile())
        fail(file, QStringLiteral("no such file"));
    if (!f.open(QIODevice::ReadOnly))
        fail(file, QStringLiteral("cannot be read (%1)").arg(f.errorString()));
    const QByteArray bytes = f.read(kMaxFileBytes + 1);
    if (bytes.size() > kMaxFileBytes)
        fail(file, QStringLiteral("larger than %1 bytes").arg(kMaxFileBytes));
    return parse(bytes, file);
}

ExternalTargets ExternalTargets::parse(const QByteArray &bytes, const QString &file)
{
    try {
        return JsonDecoder().decode<TargetsFile>(bytes).targets;
    } catch (const Error &error) {
        fail(file, error.description());
    }
}

} // namespace kovra
