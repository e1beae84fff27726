#include "live/running_live_processes.h"

#include "live/bundle_info.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace norv {

namespace {

// Enough for any argv[0]; the rest of a long command line is never needed.
constexpr qint64 cmdlineLimit = 64 * 1024;

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

// The first argument as a path; a relative one is taken from the process's working directory.
QString firstArgument(const QString& processDir) {
    QFile file(processDir + QStringLiteral("/cmdline"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.read(cmdlineLimit);
    const qsizetype end = bytes.indexOf('\0');
    const QString argument = QFile::decodeName(end < 0 ? bytes : bytes.left(end));
    if (argument.isEmpty() || argument.startsWith(QLatin1Char('/')))
        return argument;
    const QString directory = linkTarget(processDir + QStringLiteral("/cwd"));
    if (!directory.startsWith(QLatin1Char('/')))
        return {};
    return QDir::cleanPath(directory + QLatin1Char('/') + argument);
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

std::vector<RunningLiveProcess> RunningLiveProcesses::list(const QString& procRoot) {
    std::vector<RunningLiveProcess> found;
    const QStringList entries = QDir(procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool numeric = false;
        const int pid = entry.toInt(&numeric, 10);
        if (!numeric || pid <= 0)
            continue;
        const QString processDir = procRoot + QLatin1Char('/') + entry;
        QString path = QDir::cleanPath(executablePath(processDir));
        QString bundle = bundleOf(path);
        if (bundle.isEmpty()) {
            path = firstArgument(processDir);
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
