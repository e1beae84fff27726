#include "live/wine_prefix.h"

#include "live/library_parser.h"
#include "live/live_version.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace norv {

namespace {

const QString liveName = QStringLiteral("Ableton Live");
const QString exeSuffix = QStringLiteral(".exe");

// One preferences folder: drive_c/users/<user>/AppData/Roaming/Ableton/Live <version>.
struct Preferences {
    QString user;
    QString version;
    QString folder;
};

QString usersFolder(const QString& prefix) { return prefix + QStringLiteral("/drive_c/users"); }

// The prefix's user folders but the shared "Public" one, by name.
QStringList users(const QString& prefix) {
    QStringList names =
        QDir(usersFolder(prefix)).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    names.removeAll(QStringLiteral("Public"));
    return names;
}

// The newest preferences folder whose major version is `major`; the first user by name wins a tie.
std::optional<Preferences> newestPreferences(const QString& prefix, const QString& major) {
    std::optional<Preferences> newest;
    for (const QString& user : users(prefix)) {
        const QString root = usersFolder(prefix) + QLatin1Char('/') + user +
                             QStringLiteral("/AppData/Roaming/Ableton");
        for (const QString& entry : QDir(root).entryList({QStringLiteral("Live *")}, QDir::Dirs)) {
            const QString version = entry.mid(5);
            if (LiveVersion::numeric(version) != version ||
                LiveVersion::compare(version.section(QLatin1Char('.'), 0, 0), major) != 0)
                continue;
            if (!newest || LiveVersion::compare(version, newest->version) > 0)
                newest = Preferences{user, version, root + QLatin1Char('/') + entry};
        }
    }
    return newest;
}

std::optional<QString> defaultLibrary(const QString& prefix, const QString& user) {
    const QString folder = usersFolder(prefix) + QLatin1Char('/') + user +
                           QStringLiteral("/Documents/Ableton/User Library");
    if (!QFileInfo(folder).isDir()) return std::nullopt;
    return folder;
}

// The User Library a Library.cfg of Live for Windows names, on this machine.
std::optional<QString> windowsLibrary(const QString& prefix, const QString& cfgPath) {
    const std::optional<LibraryParser::Project> project = LibraryParser::project(cfgPath);
    if (!project || !WinePrefix::isWindowsPath(project->root) ||
        !LibraryParser::plainName(project->name) || project->name.contains(QLatin1Char('\\')))
        return std::nullopt;
    return WinePrefix::unixPath(prefix, project->root + QLatin1Char('\\') + project->name);
}

// `folder`/`name`, or the entry of `folder` that differs from `name` only in case when there is
// no exact one.
QString entryOf(const QString& folder, const QString& name) {
    const QString exact = folder + QLatin1Char('/') + name;
    if (QFileInfo::exists(exact)) return exact;
    const QStringList entries = QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0) return folder + QLatin1Char('/') + entry;
    }
    return exact;
}

}  // namespace

bool WinePrefix::isLiveExecutableName(const QString& fileName) {
    return fileName.startsWith(liveName) && fileName.endsWith(exeSuffix);
}

QString WinePrefix::containing(const QString& path) {
    const QStringList parts = QDir::cleanPath(path).split(QLatin1Char('/'));
    for (qsizetype i = parts.size() - 2; i > 0; --i) {
        if (parts[i] != QLatin1String("drive_c")) continue;
        const QString prefix = parts.mid(0, i).join(QLatin1Char('/'));
        return !prefix.isEmpty() && QFileInfo(prefix + QStringLiteral("/drive_c")).isDir()
                   ? prefix
                   : QString();
    }
    return {};
}

QStringList WinePrefix::executables(const QString& prefix) {
    QStringList found;
    const QString ableton = prefix + QStringLiteral("/drive_c/ProgramData/Ableton");
    for (const QString& folder :
         QDir(ableton).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString program = ableton + QLatin1Char('/') + folder + QStringLiteral("/Program");
        for (const QString& file : QDir(program).entryList(QDir::Files, QDir::Name)) {
            if (isLiveExecutableName(file)) found.append(program + QLatin1Char('/') + file);
        }
    }
    return found;
}

bool WinePrefix::isWindowsPath(const QString& text) {
    static const QRegularExpression drivePath(QStringLiteral(R"(^[A-Za-z]:[\\/])"));
    return drivePath.match(text).hasMatch();
}

std::optional<QString> WinePrefix::unixPath(const QString& prefix, const QString& windowsPath) {
    if (!isWindowsPath(windowsPath)) return std::nullopt;
    const QChar letter = windowsPath[0].toLower();
    QString path = letter == QLatin1Char('c')
                       ? prefix + QStringLiteral("/drive_c")
                       : prefix + QStringLiteral("/dosdevices/") + letter + QLatin1Char(':');
    if (letter != QLatin1Char('c') && !QFileInfo(path).isDir()) return std::nullopt;
    static const QRegularExpression separators(QStringLiteral(R"([\\/])"));
    QStringList components;
    for (const QString& part : windowsPath.mid(3).split(separators, Qt::SkipEmptyParts)) {
        if (part == QLatin1String("..")) {
            if (!components.isEmpty())  // nothing above the drive's root
                components.removeLast();
        } else if (part != QLatin1String(".")) {
            components.append(part);
        }
    }
    for (const QString& component : components) path = entryOf(path, component);
    return path;
}

QString WinePrefix::missingDrive(const QString& path) {
    static const QRegularExpression drive(QStringLiteral(R"(^(.*/dosdevices/([A-Za-z]):)(/|$))"));
    const QRegularExpressionMatch match = drive.match(QDir::cleanPath(path));
    if (!match.hasMatch() || QFileInfo(match.captured(1)).isDir()) return {};
    return match.captured(2).toUpper();
}

std::optional<LiveInstallation> WinePrefix::describe(const QString& executable) {
    const QString path = QDir::cleanPath(executable);
    const QString fileName = path.section(QLatin1Char('/'), -1);
    if (!isLiveExecutableName(fileName) || !QFileInfo(path).isFile()) return std::nullopt;
    const QString prefix = containing(path);
    if (prefix.isEmpty()) return std::nullopt;
    const QString name = fileName.chopped(exeSuffix.size());
    static const QRegularExpression number(QStringLiteral(R"(\d+)"));
    const QRegularExpressionMatch major = number.match(name, liveName.size());
    if (!major.hasMatch()) return std::nullopt;

    if (const std::optional<Preferences> preferences =
            newestPreferences(prefix, major.captured(0))) {
        const QString cfg = preferences->folder + QStringLiteral("/Preferences/Library.cfg");
        const std::optional<QString> library = QFileInfo::exists(cfg)
                                                   ? windowsLibrary(prefix, cfg)
                                                   : defaultLibrary(prefix, preferences->user);
        return LiveInstallation{path, name, preferences->version, library};
    }
    std::optional<QString> library;
    for (const QString& user : users(prefix)) {
        if ((library = defaultLibrary(prefix, user))) break;
    }
    return LiveInstallation{path, name, major.captured(0), library};
}

}  // namespace norv
