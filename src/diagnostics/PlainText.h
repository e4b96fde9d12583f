#pragma once

#include <QDateTime>
#include <QString>
#include <QStringView>

namespace kovra {

// Pieces of the diagnostics' plain-text reports.

// "2025-03-01T09:15:00Z": the date in UTC, whole seconds.
QString isoUTC(const QDateTime &date);

// "ok" or "fail".
QString okOrFail(bool ok);

// The text without spaces and tabs at either end (other white space stays).
QStringView trimSpacesAndTabs(QStringView text);

} // namespace kovra
