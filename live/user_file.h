#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace norv {

// Reads the files the Live scan finds in folders the user, Wine or another program can fill:
// only regular files, opened without waiting, so a FIFO, a device or a huge file in place of a
// preferences file never stalls or floods the user-interface thread.
class UserFile {
public:
    // Far above any preferences file or Info.plist that Live writes.
    static constexpr qint64 kLimit = 1024 * 1024;

    // The whole regular file at `path`, at most `limit` bytes. Absent for a missing file and, with
    // a log line, for anything else: not a regular file, larger than `limit`, unreadable.
    static std::optional<QByteArray> read(const QString& path, qint64 limit = kLimit);

    // The first `limit` bytes of a regular file whose size says nothing of its contents, as the
    // kernel's /proc/<pid>/cmdline; absent, without a log line, when it cannot be read.
    static std::optional<QByteArray> readHead(const QString& path, qint64 limit);
};

}  // namespace norv
