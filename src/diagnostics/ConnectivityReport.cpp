#include "diagnostics/ConnectivityReport.h"

#include <array>
#include <utility>

namespace kovra {
namespace {

template<typename E, std::size_t N>
std::optional<E> fromRaw(const std::array<std::pair<E, const char16_t *>, N> &table, const QString &raw)
{
    for (const auto &[value, text] : table) {
        if (raw == QStringView(text))
            return value;
    }
    return std::nullopt;
}

template<typename E, std::size_t N>
QString toRaw(const std::array<std::pair<E, const char16_t *>, N> &table, E value)
{
    for (const auto &[candidate, text] : table) {
        if (candidate == value)
            return QString::fromUtf16(text);
    }
    return {};
}

constexpr std::array<std::pair<ConnectivityLayer, const char16_t *>, 5> kLayers{{
    {ConnectivityLayer::tcp, u"tcp"},
    {ConnectivityLayer::dns, u"dns"},
    {ConnectivityLayer::tls, u"tls"},
    {ConnectivityLayer::http, u"http"},
    {ConnectivityLayer::baseline, u"baseline"},
}};

constexpr std::array<std::pair<ConnectivityClassification, const char16_t *>, 6> kClassifications{{
    {ConnectivityClassification::allOk, u"allOk"},
    {ConnectivityClassification::dnsFail, u"dnsFail"},
    {ConnectivityClassification::tcpFail, u"tcpFail"},
    {ConnectivityClassification::tlsFail, u"tlsFail"},
    {ConnectivityClassification::tunnelNotCarrying, u"tunnelNotCarrying"},
    {ConnectivityClassification::unknown, u"unknown"},
}};

constexpr std::array<std::pair<ConnectivityClassification, const char16_t *>, 6> kExplanations{{
    {ConnectivityClassification::allOk, u"Всё ОК — трафик идёт через туннель"},
    {ConnectivityClassification::dnsFail, u"DNS не резолвится (raw TCP проходит) — вероятен gRPC-blackhole DNS"},
    {ConnectivityClassification::tcpFail, u"TCP-сокет не открывается — raw-трафик не выходит"},
    {ConnectivityClassification::tlsFail, u"TLS/HTTP не отвечает (TCP+DNS ок) — обрыв на handshake/exit"},
    {ConnectivityClassification::tunnelNotCarrying,
     u"Туннель не несёт трафик — ничего не проходит (таймаут на всех слоях)"},
    {ConnectivityClassification::unknown, u"Не удалось классифицировать"},
}};

} // namespace

QString rawValue(ConnectivityLayer layer)
{
    return toRaw(kLayers, layer);
}

std::optional<ConnectivityLayer> connectivityLayer(const QString &rawValue)
{
    return fromRaw(kLayers, rawValue);
}

QString rawValue(ConnectivityClassification classification)
{
    return toRaw(kClassifications, classification);
}

std::optional<ConnectivityClassification> connectivityClassification(const QString &rawValue)
{
    return fromRaw(kClassifications, rawValue);
}

QString explanation(ConnectivityClassification classification)
{
    return toRaw(kExplanations, classification);
}

QString ConnectivityReport::plainText() const
{
    QString text;
    const auto line = [&text](const QString &content) {
        text += content;
        text += QLatin1Char('\n');
    };
    line(QStringLiteral("Kovra S — connectivity self-test"));
    line(QStringLiteral("timestamp=") + timestamp.toUTC().toString(Qt::ISODate));
    line(QStringLiteral("classification=") + rawValue(classification) + QStringLiteral(" — ") +
         explanation(classification));
    if (exitIP)
        line(QStringLiteral("exitIP=") + *exitIP);
    if (exitLoc)
        line(QStringLiteral("exitLoc=") + *exitLoc);
    if (autoDetectSkippedBinds) {
        QString counters = QStringLiteral("autoDetectSkippedBinds=") + QString::number(*autoDetectSkippedBinds);
        if (autoDetectTotalCalls)
            counters += QStringLiteral(" / total=") + QString::number(*autoDetectTotalCalls);
        counters += QStringLiteral("  (гипотеза A: skippedBinds=") + QString::number(*autoDetectSkippedBinds) +
                    QLatin1Char(')');
        line(counters);
    }
    line(QString(56, QChar(0x2500)));
    for (const ConnectivityStep &step : steps) {
        line(QLatin1Char('[') + (step.ok ? QStringLiteral("OK ") : QStringLiteral("FAIL")) + QStringLiteral("] [") +
             rawValue(step.layer) + QStringLiteral("] ") + step.name + QStringLiteral(" — ") +
             QString::number(step.latencyMS) + QStringLiteral("ms"));
        if (!step.detail.isEmpty())
            line(QString(7, QLatin1Char(' ')) + step.detail);
    }
    return text;
}

} // namespace kovra
