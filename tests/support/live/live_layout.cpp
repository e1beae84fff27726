#include "tests/support/live/live_layout.h"

#include "core/bridge_runtime_files.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace norv::test {

FifoGuard::FifoGuard(const QString& path, std::chrono::milliseconds patience) {
    QDir().mkpath(QFileInfo(path).path());
    QFile::remove(path);
    if (::mkfifo(QFile::encodeName(path).constData(), 0600) != 0)
        qFatal("cannot make a FIFO at %s", qPrintable(path));
    thread_ = std::thread([this, name = QFile::encodeName(path), patience] {
        const auto start = std::chrono::steady_clock::now();
        while (!stop_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (std::chrono::steady_clock::now() - start < patience) continue;
            // Opens only while a reader is there; the reader then reads the end of the file.
            const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) continue;
            released_ = true;
            ::close(fd);
        }
    });
}

FifoGuard::~FifoGuard() {
    stop_ = true;
    thread_.join();
}

LiveLayout::LiveLayout()
    : settings_(std::make_unique<QSettings>(dir_.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat)) {
    QDir().mkpath(systemApps());
    QDir().mkpath(userApps());
    QDir().mkpath(path(QStringLiteral("proc")));
}

void LiveLayout::write(const QString& file, const QByteArray& contents) {
    QDir().mkpath(QFileInfo(file).path());
    // Replace rather than write through: the path may be a link to a file of the system.
    QFile::remove(file);
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(file));
    out.write(contents);
}

QString LiveLayout::addBundle(const QString& folder, const QString& fileName, const QString& shortVersion) {
    const QString bundle = folder + QLatin1Char('/') + fileName;
    write(bundle + QStringLiteral("/Contents/Info.plist"),
          QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>CFBundleName</key><string>Live</string>
  <key>CFBundleExecutable</key><string>Live</string>
  <key>CFBundleDocumentTypes</key><array><dict><key>CFBundleShortVersionString</key><string>0.1</string></dict></array>
  <key>CFBundleShortVersionString</key><string>%1</string>
</dict>
</plist>
)")
              .arg(shortVersion)
              .toUtf8());
    return bundle;
}

QByteArray LiveLayout::libraryCfg(const QString& root, const QString& name) {
    return QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<Ableton MajorVersion="5">
  <ContentLibrary><UserLibrary><LibraryProject>
    <ProjectPath Value="%1" />
    <ProjectName Value="%2" />
  </LibraryProject></UserLibrary></ContentLibrary>
</Ableton>
)")
        .arg(root, name)
        .toUtf8();
}

void LiveLayout::addLibraryCfg(const QString& version, const QString& root, const QString& name) {
    write(home() + QStringLiteral("/Library/Preferences/Ableton/Live %1/Library.cfg").arg(version),
          libraryCfg(root, name));
}

QString LiveLayout::addWineLive(const QString& prefix, const QString& folder,
                                const QString& fileName) {
    const QString executable =
        prefix + QStringLiteral("/drive_c/ProgramData/Ableton/%1/Program/%2").arg(folder, fileName);
    write(executable, {});
    return executable;
}

QString LiveLayout::addWinePreferences(const QString& prefix, const QString& user,
                                       const QString& version, const QString& root,
                                       const QString& name) {
    const QString folder =
        prefix + QStringLiteral("/drive_c/users/%1/AppData/Roaming/Ableton/Live %2/Preferences")
                     .arg(user, version);
    QDir().mkpath(folder);
    if (!root.isEmpty())
        write(folder + QStringLiteral("/Library.cfg"), libraryCfg(root, name));
    return folder;
}

void LiveLayout::addProcess(int pid, const QString& executable, const QStringList& arguments,
                            const QString& directory) {
    const QString processDir = path(QStringLiteral("proc/%1").arg(pid));
    QDir().mkpath(processDir);
    if (!executable.isEmpty())
        std::filesystem::create_symlink(executable.toStdString(), (processDir + QStringLiteral("/exe")).toStdString());
    if (!directory.isEmpty())
        std::filesystem::create_symlink(directory.toStdString(), (processDir + QStringLiteral("/cwd")).toStdString());
    QByteArray cmdline;
    for (const QString& argument : arguments)
        cmdline += argument.toUtf8() + '\0';
    write(processDir + QStringLiteral("/cmdline"), cmdline);
}

void LiveLayout::removeProcess(int pid) {
    QDir(path(QStringLiteral("proc/%1").arg(pid))).removeRecursively();
}

void LiveLayout::addRuntime(const QByteArray& manifest) {
    const auto copy = [](const QString& from, const QString& to) {
        QDir().mkpath(QFileInfo(to).path());
        QFile::remove(to);
        if (!QFile::copy(from, to))
            qFatal("cannot copy %s", qPrintable(from));
    };
    // The tests' engine runtime: the fake engine, the modules it loads, and the interpreter stub,
    // which runs the system's Python with the environment it got.
    const QString fake = QStringLiteral(NORV_FAKE_RESOURCES_DIR "/BridgeRuntime");
    for (const QString& file : QDir(fake + QStringLiteral("/tools")).entryList(QDir::Files))
        copy(fake + QStringLiteral("/tools/") + file, runtimeRoot() + QStringLiteral("/tools/") + file);
    const QString stub = QStringLiteral("/PythonRuntime/%1/bin/python3.13").arg(QLatin1String(BridgeRuntimeFiles::kProcessor));
    copy(fake + stub, runtimeRoot() + stub);
    write(scriptBundle() + QStringLiteral("/manifest.json"), manifest);
}

QString LiveLayout::interpreter() const {
    return runtimeRoot() +
           QStringLiteral("/PythonRuntime/%1/bin/python3.13").arg(QLatin1String(BridgeRuntimeFiles::kProcessor));
}

QList<QJsonObject> LiveLayout::calls() const {
    QList<QJsonObject> calls;
    QFile file(scriptBundle() + QStringLiteral("/calls.jsonl"));
    if (!file.open(QIODevice::ReadOnly))
        return calls;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            calls.append(QJsonDocument::fromJson(line).object());
    }
    return calls;
}

LiveIntegration::Environment LiveLayout::environment() {
    LiveIntegration::Environment environment;
    environment.home = home();
    environment.applicationFolders = {systemApps(), userApps()};
    environment.winePrefixes = {winePrefix()};
    environment.procRoot = path(QStringLiteral("proc"));
    environment.settings = settings_.get();
    const QString resourceFolder = resources();
    environment.runtime = [resourceFolder] {
        RemoteScriptRuntime runtime;
        runtime.resourceFolder = resourceFolder;
        runtime.runtimeRoot = BridgeRuntimeFiles::shippedRoot(resourceFolder);
        if (runtime.runtimeRoot)
            runtime.interpreter = BridgeRuntimeFiles::interpreter(*runtime.runtimeRoot);
        return runtime;
    };
    environment.processEnvironment = QProcessEnvironment::systemEnvironment();
    return environment;
}

bool await(const std::function<void(LiveIntegration::Completion)>& operation, int limitMs) {
    bool done = false;
    QEventLoop loop;
    operation([&] {
        done = true;
        loop.quit();
    });
    if (done)
        return true;
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done;
}

}  // namespace norv::test
