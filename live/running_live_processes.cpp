#include "live/running_live_processes.h"

#include "live/bundle_info.h"
#include "live/user_file.h"
#include "live/wine_prefix.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace norv {

namespace {

// Enough for any argv[0]; the rest of a long command line is never needed.
constexpr qint64 cmdlineLimit = 64 * 1024;
// Enough for any environment a program is started with.
constexpr qint64 environLimit = 1024 * 1024;

// The kernel gives /proc/<pid> the owner of the process.
bool ownedBy(const QString& processDir, uid_t owner) {
    struct stat status {};
    return ::stat(QFile::encodeName(processDir).constData(), &status) == 0 &&
           status.st_uid == owner;
}

QString linkTarget(const QString& link) {
    std::error_code error;
    const std::filesystem::path target =
        std::filesystem::read_symlink(QFile::encodeName(link).toStdString(), error);
    if (error)
        return {};
    return QFile::decodeName(QByteArray::fromStdString(target.native()));
}

QString executablePath(const QString& processDir) {
    QString path = linkTarget(processDir + QStringLiteral("/exe"));
    // The kernel marks the executable of a process whose file was replaced or removed.
    const QString deleted = QStringLiteral(" (deleted)");
    if (path.endsWith(deleted))
        path.chop(deleted.size());
    return path;
}

// The first argument as the process was given it.
QString rawFirstArgument(const QString& processDir) {
    const QByteArray bytes =
        UserFile::readHead(processDir + QStringLiteral("/cmdline"), cmdlineLimit).value_or(QByteArray());
    const qsizetype end = bytes.indexOf('\0');
    return QFile::decodeName(end < 0 ? bytes : bytes.left(end));
}

// A path argument of the process; a relative one is taken from its working directory.
QString absolutePath(const QString& processDir, const QString& argument) {
    if (argument.isEmpty() || argument.startsWith(QLatin1Char('/')))
        return argument;
    const QString directory = linkTarget(processDir + QStringLiteral("/cwd"));
    if (!directory.startsWith(QLatin1Char('/')))
        return {};
    return QDir::cleanPath(directory + QLatin1Char('/') + argument);
}

// The WINEPREFIX the process was started with, when it names an absolute folder.
QString winePrefixOf(const QString& processDir) {
    const QByteArray environment =
        UserFile::readHead(processDir + QStringLiteral("/environ"), environLimit).value_or(QByteArray());
    const QByteArray name = "WINEPREFIX=";
    for (const QByteArray& variable : environment.split('\0')) {
        if (variable.startsWith(name + '/'))
            return QDir::cleanPath(QFile::decodeName(variable.mid(name.size())));
    }
    return {};
}

// A Windows path as Wine shows it, through the prefix the process runs in.
QString throughPrefix(const QString& processDir, const QString& windowsPath,
                      const QString& defaultPrefix) {
    QString prefix = winePrefixOf(processDir);
    if (prefix.isEmpty())
        prefix = defaultPrefix;
    return WinePrefix::unixPath(prefix, windowsPath).value_or(QString());
}

// Whether `path` is an existing "Ableton Live*.exe" inside a Wine prefix.
bool isWineLive(const QString& path) {
    return WinePrefix::isLiveExecutableName(path.section(QLatin1Char('/'), -1)) &&
           !WinePrefix::containing(path).isEmpty() && QFileInfo(path).isFile();
}

// Whether `path` is the bundle's main executable: Contents/MacOS/ followed by the name its
// Info.plist gives under CFBundleExecutable, or by the bundle's own name when it gives none.
// Helpers and other programs inside the bundle are not the application.
bool isMainExecutable(const QString& bundle, const QString& path) {
    const QString folder = bundle + QStringLiteral("/Contents/MacOS/");
    if (!path.startsWith(folder))
        return false;
    const QString name = path.mid(folder.size());
    const QString bundleName = bundle.section(QLatin1Char('/'), -1).chopped(4);  // without ".app"
    return name == BundleInfo::string(bundle, QStringLiteral("CFBundleExecutable")).value_or(bundleName);
}

}  // namespace

QString RunningLiveProcesses::bundleOf(const QString& path) {
    const QStringList parts = path.split(QLatin1Char('/'));
    for (qsizetype i = parts.size() - 1; i >= 0; --i) {
        const QString& part = parts[i];
        if (part.size() > 4 && part.endsWith(QLatin1String(".app")))
            return parts.mid(0, i + 1).join(QLatin1Char('/'));
    }
    return {};
}

std::vector<RunningLiveProcess> RunningLiveProcesses::list(const Source& source) {
    std::vector<RunningLiveProcess> found;
    const QStringList entries = QDir(source.procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool numeric = false;
        const int pid = entry.toInt(&numeric, 10);
        if (!numeric || pid <= 0)
            continue;
        const QString processDir = source.procRoot + QLatin1Char('/') + entry;
        if (!ownedBy(processDir, source.owner))
            continue;
        QString path = QDir::cleanPath(executablePath(processDir));
        QString bundle = bundleOf(path);
        if (bundle.isEmpty()) {
            const QString argument = rawFirstArgument(processDir);
            const QString& defaultPrefix = source.defaultWinePrefix;
            path = QDir::cleanPath(WinePrefix::isWindowsPath(argument)
                                       ? throughPrefix(processDir, argument, defaultPrefix)
                                       : absolutePath(processDir, argument));
            if (isWineLive(path)) {
                found.push_back({pid, path});
                continue;
            }
            bundle = bundleOf(path);
        }
        if (bundle.isEmpty())
            continue;
        const QString name = bundle.section(QLatin1Char('/'), -1);
        if (!name.startsWith(QLatin1String("Ableton Live")) || !isMainExecutable(bundle, path))
            continue;
        found.push_back({pid, bundle});
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    return found;
}

}  // namespace norv
