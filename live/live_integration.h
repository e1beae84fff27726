#pragma once

#include "core/bridge_error.h"
#include "live/live_installation.h"
#include "live/live_settings.h"
#include "live/remote_script_process.h"
#include "live/remote_script_runtime.h"
#include "live/remote_script_status.h"
#include "live/running_live_processes.h"
#include "live/script_disk_state.h"
#include "live/script_install_result.h"
#include "live/script_runtime_state.h"
#include "model/bridge_health.h"

#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <variant>
#include <vector>

class QSettings;

namespace norv {

// The Live page's model: Ableton Live installations and their selection, the User Library in force,
// the Remote Script check and install through the engine runtime's tool, and the Remote Script
// status. GUI thread only; every change of the published state emits changed(). Outcomes are
// reported through message(), never raised.
class LiveIntegration : public QObject {
    Q_OBJECT
public:
    // What the integration reads of the machine; tests build their own layouts.
    struct Environment {
        QString home;                     // the user's home; its .wine is Wine's default prefix
        QStringList applicationFolders;   // searched in order for "Ableton Live*.app"
        QStringList winePrefixes;         // searched in order for Live for Windows
        QString procRoot;                 // the running processes
        uid_t processOwner = ::getuid();  // this user: only their processes are a running Live,
                                          // only their folders take the Remote Script
        QSettings* settings = nullptr;    // not owned; null uses the application's settings
        std::function<RemoteScriptRuntime()> runtime;
        QProcessEnvironment processEnvironment;  // the application's environment, before filtering
        RemoteScriptProcess::Timing timing;

        // This machine: $HOME, "/Applications" and ~/Applications, $WINEPREFIX (when it names an
        // absolute folder) and ~/.wine, /proc and this user, the application's settings, resources
        // and environment, a 30 s limit with 2 s to end after SIGTERM.
        static Environment system();
    };

    using Completion = std::function<void()>;

    explicit LiveIntegration(QObject* parent = nullptr);
    explicit LiveIntegration(Environment environment, QObject* parent = nullptr);
    ~LiveIntegration() override;

    const std::vector<LiveInstallation>& installations() const { return installations_; }
    const QString& selectedID() const { return selectedID_; }
    const std::optional<QString>& library() const { return library_; }
    const std::optional<ScriptDiskState>& disk() const { return disk_; }
    const std::optional<QString>& message() const { return message_; }
    bool busy() const { return busy_; }
    std::optional<LiveInstallation> selected() const;

    // The picker's choice; the caller follows it with select().
    void setSelectedID(const QString& id);

    // Each operation calls `done` once it has finished, including the operations it ends in; none
    // is called after this object is destroyed.
    void scan(Completion done = {});
    void select(Completion done = {});
    void locate(const QString& bundlePath, Completion done = {});
    void chooseLibrary(const std::optional<QString>& folder, Completion done = {});
    void verify(Completion done = {});
    void install(Completion done = {});

    // The status line; prunes the Live processes awaiting a restart to those still running.
    ScriptRuntimeState runtime(const BridgeHealth& health, bool connected);

    std::vector<RunningLiveProcess> running() const;
    // An application bundle, or a Live for Windows executable inside a Wine prefix.
    std::optional<LiveInstallation> describe(const QString& bundlePath) const;
    // Where a panel to locate Live opens: the first Wine prefix's Ableton programs folder, else
    // its drive_c; empty when there is no prefix.
    QString locateFolder() const;
    static std::optional<QString> numericVersion(const QString& text);
    static std::optional<QString> readLibrary(const QString& cfgPath);

    const std::set<std::int32_t>& restartPending() const { return restartPending_; }

Q_SIGNALS:
    void changed();

private:
    template <typename Reply>
    using ReplyHandler = std::function<void(std::variant<Reply, BridgeError>)>;

    template <typename Reply>
    void run(bool install, ReplyHandler<Reply> handler);

    void finishInstall(const ScriptInstallResult& result, Completion done);

    Environment environment_;
    LiveSettings settings_;
    std::vector<LiveInstallation> installations_;
    QString selectedID_;
    std::optional<QString> library_;
    std::optional<ScriptDiskState> disk_;
    std::optional<QString> message_;
    bool busy_ = false;
    std::set<std::int32_t> restartPending_;
};

}  // namespace norv
