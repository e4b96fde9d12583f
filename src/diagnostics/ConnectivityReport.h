#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

namespace kovra {

// The layer a self-test step checks. Raw values are the lower-case names.
enum class ConnectivityLayer { tcp, dns, tls, http, baseline };
QString rawValue(ConnectivityLayer layer);
std::optional<ConnectivityLayer> connectivityLayer(const QString &rawValue);

// Where traffic through the tunnel stops. Raw values are the case names. The self-test
// never produces unknown.
enum class ConnectivityClassification { allOk, dnsFail, tcpFail, tlsFail, tunnelNotCarrying, unknown };
QString rawValue(ConnectivityClassification classification);
std::optional<ConnectivityClassification> connectivityClassification(const QString &rawValue);
// The one-line Russian explanation shown with a classification.
QString explanation(ConnectivityClassification classification);

// One probe of the self-test.
struct ConnectivityStep {
    QUuid id = QUuid::createUuid();
    ConnectivityLayer layer = ConnectivityLayer::tcp;
    QString name;
    bool ok = false;
    qint64 latencyMS = 0;
    // The probe's own detail text, unchanged (may be empty or hold line breaks).
    QString detail;

    friend bool operator==(const ConnectivityStep &, const ConnectivityStep &) = default;
};

// The outcome of one self-test run; a plain value.
struct ConnectivityReport {
    QDateTime timestamp;
    // The six steps, in probe order.
    QList<ConnectivityStep> steps;
    ConnectivityClassification classification = ConnectivityClassification::unknown;
    std::optional<QString> exitIP;
    std::optional<QString> exitLoc;
    std::optional<quint64> autoDetectSkippedBinds;
    std::optional<quint64> autoDetectTotalCalls;

    // The report as shareable text, every line ended by a line feed: a header, the time
    // stamp, the classification with its explanation, the exit and counter lines when
    // known, a rule, then one line per step ("[OK ] [tcp] name — 12ms") with its detail
    // indented by seven spaces on the next line when it has one.
    QString plainText() const;

    friend bool operator==(const ConnectivityReport &, const ConnectivityReport &) = default;
};

} // namespace kovra
