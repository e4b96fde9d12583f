#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

#include <sys/stat.h>

namespace kovra::files {

struct AtomicWriteOptions {
    // Permissions of the written file.
    mode_t mode = 0600;
    // Missing parent folders are created with this mode (existing ones are left alone).
    mode_t folderMode = 0700;
    // When set, the file's modification time is set strictly after this one (in ns
    // since 1970), so that readers comparing stamps see a new version even when the
    // size and a reused inode number match the replaced file.
    std::optional<qint64> mtimeAfterNs;
    // Flush the data to the disk before the rename.
    bool sync = true;
    // The temporary file is "<path>.tmp-XXXXXX", unique per write. Writers that hold a
    // lock of their own may use the fixed name "<path>.tmp" instead.
    bool uniqueTemporary = true;
};

// Writes `bytes` to a temporary file beside `path` and renames it over `path`: a
// reader sees the old or the new contents, never a mix. On success returns true and
// fills `written` (when given) with the new file's status; on failure removes the
// temporary file, leaves `path` as it was and puts the reason in `error`.
bool writeAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr,
                     const AtomicWriteOptions &options = {}, struct stat *written = nullptr);

// Keeps a damaged file for inspection: renames it to "<path>.corrupt-<UTC time to the
// millisecond>", adding "-2", "-3", ... when that name is taken. Returns the new path,
// or none (with the reason in `error`) when it cannot be moved.
std::optional<QString> moveAside(const QString &path, const QDateTime &now, QString *error = nullptr);

// Creates the folder and its missing parents with `mode`. True when it exists afterwards.
bool makeFolders(const QString &path, mode_t mode = 0700);

} // namespace kovra::files
