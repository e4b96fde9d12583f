#pragma once

#include "platform/PlatformPaths.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace kovra {

// The files folder an app group shares with the tunnel provider:
// <dataHome>/kovra/<suite>/. The provider leaves its diagnostics under
// "diagnostics/" there.
class AppGroupContainer {
public:
    AppGroupContainer(const PlatformPaths &paths, QString suite);

    // The folder, or empty when the suite name could leave the kovra folder or the
    // data folder is not absolute.
    QString path() const;
    // The path of a file below the folder, or empty when the relative path is
    // absolute or climbs out of it ("..").
    QString filePath(const QString &relativePath) const;

    // The file's bytes, or none when it is absent, unreadable or not below the folder.
    std::optional<QByteArray> read(const QString &relativePath) const;
    // Writes the file atomically (a reader sees the old or the new bytes, never a
    // mix), creating its folders. False when it cannot be written.
    bool write(const QString &relativePath, const QByteArray &data) const;

private:
    QString m_dataFolder;
    QString m_suite;
};

} // namespace kovra
