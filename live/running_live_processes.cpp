#include "live/running_live_processes.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace norv {

namespace {

// Enough for any argv[0]; the rest of a long command line is never needed.
constexpr qint64 cmdlineLimit = 64 * 1024;

QString executablePath(const QString& processDir) {
    std::error_code error;
    const std::filesystem::path target =
        std::filesystem::read_symlink(QFile::encodeName(processDir + QStringLiteral("/exe")).toStdString(), error);
    if (error)
        return {};
    QString path = QFile::decodeName(QByteArray::fromStdString(target.native()));
    // The kernel marks the executable of a process whose file was replaced or removed.
    const QString deleted = QStringLiteral(" (deleted)");
    if (path.endsWith(deleted))
        path.chop(deleted.size());
    return path;
}

QString firstArgument(const QString& processDir) {
    QFile file(processDir + QStringLiteral("/cmdline"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.read(cmdlineLimit);
    const qsizetype end = bytes.indexOf('\0');
    return QFile::decodeName(end < 0 ? bytes : bytes.left(end));
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
        QString bundle = bundleOf(executablePath(processDir));
        if (bundle.isEmpty())
            bundle = bundleOf(firstArgument(processDir));
        if (bundle.isEmpty())
            continue;
        const QString name = bundle.section(QLatin1Char('/'), -1);
        if (!name.startsWith(QLatin1String("Ableton Live")))
            continue;
        found.push_back({pid, bundle});
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    return found;
}

}  // namespace norv
