#include "core/bridge_runtime_files.h"

#include "core/app_log.h"
#include "core/bridge_runtime_error.h"
#include "core/unique_fd.h"

#include <QCryptographicHash>
#include <QFile>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace norv {
namespace {

using Bytes = std::string;  // native (UTF-8) file-system path bytes

Bytes native(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString fromNative(const Bytes& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

[[noreturn]] void throwIo(const char* operation, const Bytes& path, int error = errno) {
    throw BridgeRuntimeError::io(operation, fromNative(path), error);
}

struct stat lstatOrThrow(const Bytes& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) throwIo("lstat", path);
    return info;
}

bool exists(const Bytes& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// Names inside a folder, hidden ones included ("." and ".." excepted).
std::vector<Bytes> listFolder(const Bytes& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) throwIo("opendir", folder);
    std::vector<Bytes> names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const Bytes name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    if (error != 0) throwIo("readdir", folder, error);
    return names;
}

enum class EntryType { file, folder };

EntryType classify(const struct stat& info) {
    if (S_ISLNK(info.st_mode)) throw BridgeRuntimeError::invalidFileName();
    if (S_ISDIR(info.st_mode)) return EntryType::folder;
    if (S_ISREG(info.st_mode)) return EntryType::file;
    throw BridgeRuntimeError::unknownRead();
}

QByteArray contentDigest(const Bytes& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) throwIo("open", path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> chunk(1 << 16);
    for (;;) {
        const ssize_t count = ::read(fd.get(), chunk.data(), chunk.size());
        if (count < 0) {
            if (errno == EINTR) continue;
            throwIo("read", path);
        }
        if (count == 0) break;
        hash.addData(QByteArrayView(chunk.data(), count));
    }
    return hash.result();
}

void writeAll(int fd, const char* data, size_t size, const Bytes& path) {
    while (size > 0) {
        const ssize_t count = ::write(fd, data, size);
        if (count < 0) {
            if (errno == EINTR) continue;
            throwIo("write", path);
        }
        data += count;
        size -= size_t(count);
    }
}

void copyFile(const Bytes& from, const Bytes& to, mode_t mode) {
    UniqueFd in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!in.valid()) throwIo("open", from);
    UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out.valid()) throwIo("create", to);
    std::vector<char> chunk(1 << 16);
    for (;;) {
        const ssize_t count = ::read(in.get(), chunk.data(), chunk.size());
        if (count < 0) {
            if (errno == EINTR) continue;
            throwIo("read", from);
        }
        if (count == 0) break;
        writeAll(out.get(), chunk.data(), size_t(count), to);
    }
    // The interpreter must stay executable in the copy.
    if (::fchmod(out.get(), mode & 0777) != 0) throwIo("chmod", to);
    if (::close(out.release()) != 0) throwIo("close", to);
}

// Copies a tree of folders and regular files; anything else is refused as the fingerprint does.
void copyTree(const Bytes& from, const Bytes& to) {
    if (::mkdir(to.c_str(), 0700) != 0) throwIo("mkdir", to);
    for (const Bytes& name : listFolder(from)) {
        const Bytes source = from + "/" + name;
        const Bytes target = to + "/" + name;
        const struct stat info = lstatOrThrow(source);
        if (classify(info) == EntryType::folder) {
            copyTree(source, target);
        } else {
            copyFile(source, target, info.st_mode);
        }
    }
    if (::chmod(to.c_str(), 0755) != 0) throwIo("chmod", to);
}

// Creates a folder and its missing parents with the given mode; an existing folder is fine.
void makeFolders(const Bytes& path, mode_t mode) {
    if (path.empty()) return;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode)) throwIo("mkdir", path, ENOTDIR);
        return;
    }
    const auto slash = path.find_last_of('/');
    if (slash != Bytes::npos && slash > 0) makeFolders(path.substr(0, slash), mode);
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) throwIo("mkdir", path);
}

// Moves a folder into place, refusing to replace anything that already exists there: a plain
// rename would silently replace an empty folder that another preparation had just created.
int moveNoReplace(const Bytes& from, const Bytes& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without RENAME_NOREPLACE: a hard link of a folder is impossible, so make
    // the target exclusively and only then fill it by rename over the (empty) folder we own.
    if (::mkdir(to.c_str(), 0700) != 0) return errno;
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int error = errno;
        ::rmdir(to.c_str());
        return error;
    }
    return 0;
}

void removeTree(const Bytes& path) {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(path), ignored);
}

}  // namespace

QString BridgeRuntimeFiles::fingerprint(const QString& rootPath) {
    const Bytes root = native(rootPath);
    if (S_ISLNK(lstatOrThrow(root).st_mode)) throw BridgeRuntimeError::invalidFileName();

    struct File {
        Bytes relative;
        Bytes path;
    };
    std::vector<File> files;
    std::vector<std::pair<Bytes, Bytes>> stack{{root, Bytes()}};
    while (!stack.empty()) {
        auto [folder, prefix] = std::move(stack.back());
        stack.pop_back();
        for (const Bytes& name : listFolder(folder)) {
            const Bytes path = folder + "/" + name;
            const Bytes relative = prefix + name;
            if (classify(lstatOrThrow(path)) == EntryType::folder) {
                stack.emplace_back(path, relative + "/");
            } else {
                files.push_back({relative, path});
            }
        }
    }
    if (files.empty()) throw BridgeRuntimeError::noSuchFile();

    // Byte order of UTF-8 names is code-point order.
    std::stable_sort(files.begin(), files.end(),
                     [](const File& a, const File& b) { return a.relative < b.relative; });
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const File& file : files) {
        hash.addData(QByteArrayView(file.relative.data(), qsizetype(file.relative.size())));
        hash.addData(QByteArrayView("\0", 1));
        hash.addData(contentDigest(file.path));
    }
    return QString::fromLatin1(hash.result().toHex());
}

QString BridgeRuntimeFiles::prepare(const QString& bundled, const QString& support) {
    return prepare(bundled, support, {});
}

QString BridgeRuntimeFiles::prepare(const QString& bundled, const QString& support,
                                    const std::function<void()>& beforeMove) {
    const QString expected = fingerprint(bundled);
    const Bytes cache = native(support) + "/BridgeRuntimes";
    makeFolders(cache, 0700);
    const Bytes target = cache + "/" + expected.toStdString();
    const QString targetPath = fromNative(target);

    if (exists(target)) {
        if (fingerprint(targetPath) == expected) return targetPath;
        throw BridgeRuntimeError::corruptFile();
    }

    const Bytes staging =
        cache + "/.staging-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    struct StagingCleanup {
        const Bytes& path;
        ~StagingCleanup() { removeTree(path); }
    } cleanup{staging};

    copyTree(native(bundled), staging);
    if (fingerprint(fromNative(staging)) != expected) throw BridgeRuntimeError::corruptFile();
    if (beforeMove) beforeMove();
    const int moveError = moveNoReplace(staging, target);
    if (moveError == 0) return targetPath;
    // Lost race: another preparation landed first; its copy is as good as ours if it matches.
    if (exists(target)) {
        if (fingerprint(targetPath) == expected) return targetPath;
    }
    throwIo("rename", staging, moveError);
}

std::optional<QString> BridgeRuntimeFiles::interpreter(const QString& root) {
    if (root.isEmpty()) return std::nullopt;
    const QString path = root + QStringLiteral("/PythonRuntime/") + QLatin1String(kProcessor) +
                         QStringLiteral("/bin/python3.13");
    const Bytes bytes = native(path);
    struct stat info {};
    if (::stat(bytes.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    if (::access(bytes.c_str(), X_OK) != 0) return std::nullopt;
    return path;
}

QProcessEnvironment BridgeRuntimeFiles::environment(const QProcessEnvironment& base) {
    QProcessEnvironment result;
    for (const char* key : {"HOME", "TMPDIR", "LANG", "LC_ALL", "LC_CTYPE"}) {
        const QString name = QLatin1String(key);
        if (base.contains(name)) result.insert(name, base.value(name));
    }
    result.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin:/usr/sbin:/sbin"));
    return result;
}

std::optional<QString> BridgeRuntimeFiles::supportFolder() {
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (!data.startsWith(QLatin1Char('/'))) {
        const QString home = qEnvironmentVariable("HOME");
        if (!home.startsWith(QLatin1Char('/'))) return std::nullopt;
        data = home + QStringLiteral("/.local/share");
    }
    return data + QStringLiteral("/Norv Session");
}

std::optional<QString> BridgeRuntimeFiles::shippedRoot(const QString& resources) {
    if (resources.isEmpty()) return std::nullopt;
    const QString root = resources + QStringLiteral("/BridgeRuntime");
    if (!QFile::exists(root + QStringLiteral("/tools/run_bridge.py"))) return std::nullopt;
    return root;
}

std::optional<QString> BridgeRuntimeFiles::managedRoot(const QString& resources,
                                                       const std::optional<QString>& support) {
    const auto shipped = shippedRoot(resources);
    if (!shipped || !support) return std::nullopt;
    try {
        return prepare(*shipped, *support);
    } catch (const BridgeRuntimeError& error) {
        qCCritical(AppLog::process, "Bundled Bridge runtime preparation failed: %s", error.what());
        return std::nullopt;
    }
}

}  // namespace norv
