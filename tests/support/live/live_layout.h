#pragma once

#include "live/live_integration.h"
#include "tests/support/qt_printers.h"

#include <QJsonObject>
#include <QList>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace norv::test {

// A machine of the test's own in a temporary folder: home, application folders, Live bundles and
// preferences, a /proc tree, settings, and an engine runtime copied from the tests' engine runtime:
// the fake engine run by the demo runtime's interpreter stub.
class LiveLayout {
public:
    LiveLayout();

    QString path(const QString& relative) const { return dir_.filePath(relative); }
    QString home() const { return path(QStringLiteral("home")); }
    QString systemApps() const { return path(QStringLiteral("Applications")); }
    QString userApps() const { return home() + QStringLiteral("/Applications"); }
    // The home folder's Wine prefix, the one prefix the environment searches.
    QString winePrefix() const { return home() + QStringLiteral("/.wine"); }
    QSettings& settings() { return *settings_; }

    // A bundle whose Info.plist gives `shortVersion`; returns its path.
    QString addBundle(const QString& folder, const QString& fileName, const QString& shortVersion);
    // Writes a new file at `file`, replacing (never writing through) whatever is there.
    static void write(const QString& file, const QByteArray& contents);
    // ~/Library/Preferences/Ableton/Live <version>/Library.cfg naming <root>/<name> as User Library.
    void addLibraryCfg(const QString& version, const QString& root, const QString& name);
    // A Library.cfg naming <root>/<name> as User Library.
    static QByteArray libraryCfg(const QString& root, const QString& name);
    // An empty drive_c/ProgramData/Ableton/<folder>/Program/<fileName> in `prefix`; returns it.
    static QString addWineLive(const QString& prefix, const QString& folder,
                               const QString& fileName);
    // drive_c/users/<user>/AppData/Roaming/Ableton/Live <version>/Preferences in `prefix`, with a
    // Library.cfg naming the Windows folder <root>\<name> when `root` is not empty; returns the
    // folder.
    static QString addWinePreferences(const QString& prefix, const QString& user,
                                      const QString& version, const QString& root = {},
                                      const QString& name = QStringLiteral("User Library"));
    // /proc/<pid> with an exe link to `executable` and a cwd link to `directory` (each when not
    // empty) and a NUL-separated command line.
    void addProcess(int pid, const QString& executable, const QStringList& arguments = {},
                    const QString& directory = {});
    void removeProcess(int pid);

    // Resources with a runtime (tool, interpreter) and a script bundle whose manifest is `manifest`.
    void addRuntime(const QByteArray& manifest = defaultManifest);
    QString resources() const { return path(QStringLiteral("share")); }
    QString runtimeRoot() const { return resources() + QStringLiteral("/BridgeRuntime"); }
    QString scriptBundle() const { return resources() + QStringLiteral("/RemoteScript"); }
    QString interpreter() const;
    // The tool's record of its calls, one JSON object a line.
    QList<QJsonObject> calls() const;

    LiveIntegration::Environment environment();
    std::unique_ptr<LiveIntegration> integration() { return std::make_unique<LiveIntegration>(environment()); }

    static constexpr const char* defaultManifest = R"({"version": "1.4.0", "build_id": "b140"})";

private:
    QTemporaryDir dir_;
    std::unique_ptr<QSettings> settings_;
};

// A FIFO at `path` while it lives. A reader that waits in open() for a writer is let go after
// `patience` by opening the writing end, so the test ends, and says so, instead of hanging.
class FifoGuard {
public:
    explicit FifoGuard(const QString& path,
                       std::chrono::milliseconds patience = std::chrono::seconds(3));
    ~FifoGuard();
    bool released() const { return released_; }

private:
    std::atomic<bool> released_{false};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Runs `operation` and the event loop until its completion is called (at most `limitMs`).
bool await(const std::function<void(LiveIntegration::Completion)>& operation, int limitMs = 20000);

}  // namespace norv::test
