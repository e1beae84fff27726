#include "live/user_file.h"

#include "core/app_log.h"
#include "core/unique_fd.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace norv {

namespace {

// The English description, whatever the user's locale.
const char* errorText(int error) {
    const char* description = strerrordesc_np(error);
    return description != nullptr ? description : "unknown error";
}

struct Opened {
    UniqueFd fd;
    qint64 size = 0;
};

// Opens `path` for reading when it is a regular file. It is looked at before it is opened, so a
// device is never opened at all, and again on the descriptor, for what was put there meanwhile.
std::optional<Opened> openRegular(const QString& path, const char** why) {
    const QByteArray name = QFile::encodeName(path);
    struct stat status {};
    if (::stat(name.constData(), &status) != 0) {
        *why = errno == ENOENT || errno == ENOTDIR ? nullptr : errorText(errno);
        return std::nullopt;
    }
    *why = "not a regular file";
    if (!S_ISREG(status.st_mode)) return std::nullopt;
    Opened opened{UniqueFd(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY))};
    if (!opened.fd.valid()) {
        *why = errorText(errno);
        return std::nullopt;
    }
    if (::fstat(opened.fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    opened.size = status.st_size;
    *why = nullptr;
    return opened;
}

// Up to `limit` bytes from `fd`; absent on a read error.
std::optional<QByteArray> readUpTo(int fd, qint64 limit) {
    QByteArray bytes;
    char chunk[16384];
    while (bytes.size() < limit) {
        const ssize_t got =
            ::read(fd, chunk, size_t(std::min<qint64>(sizeof chunk, limit - bytes.size())));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        bytes.append(chunk, got);
    }
    return bytes;
}

}  // namespace

std::optional<QByteArray> UserFile::read(const QString& path, qint64 limit) {
    const char* why = nullptr;
    std::optional<QByteArray> contents;
    if (std::optional<Opened> opened = openRegular(path, &why)) {
        // One byte past the limit tells a file that grew after fstat.
        if (opened->size > limit) {
            why = "larger than the limit";
        } else if (!(contents = readUpTo(opened->fd.get(), limit + 1))) {
            why = "unreadable";
        } else if (contents->size() > limit) {
            why = "larger than the limit";
            contents.reset();
        }
    }
    if (why) qCWarning(AppLog::process, "Ignoring %s: %s", qUtf8Printable(path), why);
    return contents;
}

std::optional<QByteArray> UserFile::readHead(const QString& path, qint64 limit) {
    const char* why = nullptr;
    const std::optional<Opened> opened = openRegular(path, &why);
    if (!opened) return std::nullopt;
    return readUpTo(opened->fd.get(), limit);
}

}  // namespace norv
