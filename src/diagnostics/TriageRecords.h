#pragma once

#include "connectivity/NetworkPathType.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace kovra {

// One finished step of the network triage.
struct TriageStep {
    // The API host the step belongs to.
    QString host;
    // "dns", "tcp", "head", "echo:<bytes>" or "config".
    QString name;
    bool ok = false;
    qint64 ms = 0;
    // One line of what was seen.
    QString detail;
    // The server answered at all: always for "dns", "tcp" and "head"; for downloads,
    // whether an HTTP status arrived.
    bool gotResponse = false;

    // "<host>-<name>"; not unique when a host is listed twice.
    QString id() const { return host + QLatin1Char('-') + name; }
    // The screen's row: host, name, "ok" or "fail" and the detail, two spaces apart.
    QString rowText() const;

    friend bool operator==(const TriageStep &, const TriageStep &) = default;
};

// What one streamed download saw. Durations are whole milliseconds since its start.
struct TriageBodyOutcome {
    // Absent without an HTTP response.
    std::optional<int> statusCode;
    // When the response head arrived; absent without a response.
    std::optional<qint64> headMS;
    qint64 bytesReceived = 0;
    // The stated content length; absent when none was stated or nothing arrived.
    std::optional<qint64> expectedBytes;
    qint64 elapsedMS = 0;
    // The transport failure (RawProbes::describe); absent when the download completed.
    std::optional<QString> error;

    // A 2xx status, no error, and every stated byte received.
    bool isComplete() const;
    // "HTTP 200, 4096/4096 B, head 35ms, done 80ms" or
    // "no HTTP response, 0/unknown B, done 12ms, error cannot connect".
    QString detailText() const;

    friend bool operator==(const TriageBodyOutcome &, const TriageBodyOutcome &) = default;
};

// A finished triage run.
struct TriageReport {
    QDateTime takenAt;
    NetworkPathType net = NetworkPathType::none;
    // Every step in the order it ran.
    QList<TriageStep> steps;
    // One Russian sentence (NetworkTriage::summarize).
    QString summary;

    // Every step passed (true for no steps).
    bool allOk() const;
    // Shareable text, lines joined by line feeds (none after the last): the header,
    // "taken_at=… net=…", "summary=…", then "<host> <name> ok|fail <ms>ms <detail>" per step.
    QString plainText() const;

    friend bool operator==(const TriageReport &, const TriageReport &) = default;
};

} // namespace kovra
