#pragma once
// The Ableton Live page over the one LiveIntegration it owns: the Remote Script status
// (recomputed every 2 s), the Live installation and User Library, the Remote Script files and the
// MIDI shortcuts. The view shows the integration's state; its requests (scan, install, verify,
// locate, the library choice) and the store's (reconnect, routes) go out through Actions, which
// the page factory wires. No meta-object of its own, so programs that link the widgets library
// without the Live integration never pull this class in.

#include "live/live_integration.h"
#include "live/script_runtime_state.h"
#include "model/bridge_health.h"
#include "ui/components/page_frame.h"

#include <chrono>
#include <functional>
#include <set>
#include <string>

class QComboBox;
class QLabel;
class QPushButton;
class QTimer;

namespace norv {

class LivePage : public PageFrame {
public:
    static constexpr std::chrono::milliseconds kStatusInterval{2000};

    // Called once a request to the integration is over.
    using Done = std::function<void()>;
    // A request to the page's integration.
    using Request = std::function<void(LiveIntegration& integration, Done done)>;

    struct State {
        BridgeHealth health = BridgeHealth::empty();
        bool connected = false;
        bool canChange = false;
        std::set<std::string> pendingActions;
    };
    struct Actions {
        std::function<void()> reconnectMidi;  // "Reconnect MIDI"
        std::function<void()> showRoutes;     // "Routes"
        // Opens an application bundle or shows a folder with the desktop ("Open Live",
        // "Open script folder").
        std::function<void(const QString& path)> openPath;
        Request scan;                // "Detect installations", and when the page is shown
        Request install;             // "Install Remote Script" / "Update Remote Script"
        Request verify;              // "Verify files"
        Request locate;              // "Locate Live…": asks for the application
        Request chooseLibrary;       // "Choose User Library…": asks for the folder
        Request useDetectedLibrary;  // "Use detected library"
        // What the integration reads of the machine; this machine without it.
        std::function<LiveIntegration::Environment()> environment;
    };

    explicit LivePage(Actions actions, QWidget* parent = nullptr);
    ~LivePage() override;

    // The panels follow at once, the status line at its next update.
    void setState(const State& state);
    void setStatusInterval(std::chrono::milliseconds interval);
    // The page is shown: scan for installations, then update the status line every tick.
    void start();
    // Recomputes the status line from the last store state.
    void updateState();

    LiveIntegration& integration() { return integration_; }
    const ScriptRuntimeState& state() const { return state_; }
    QLabel* statusTitle() const { return statusTitle_; }
    QComboBox* livePicker() const { return picker_; }
    QPushButton* installButton() const { return install_; }
    QPushButton* verifyButton() const { return verify_; }
    QPushButton* openFolderButton() const { return openFolder_; }
    QWidget* installationPanel() const { return installationPanel_; }
    QPushButton* reconnectButton() const { return reconnect_; }
    QLabel* installedValue() const { return installed_; }
    QLabel* routeStatus() const { return routeStatus_; }

private:
    void refresh();
    void followSelection();
    // Sends a request to the integration; the status line follows once it is over.
    void request(const Request& request);

    LiveIntegration integration_;
    Actions actions_;
    State store_;
    ScriptRuntimeState state_;
    QString lastSelectedID_;
    bool selectionQueued_ = false;
    QTimer* timer_;

    QLabel* statusTitle_;
    QLabel* statusDetail_;
    QWidget* installationPanel_;
    QComboBox* picker_;
    QLabel* livePath_;
    QPushButton* openLive_;
    QLabel* library_;
    QWidget* libraryRow_;
    QLabel* bundled_;
    QLabel* installed_;
    QPushButton* install_;
    QPushButton* verify_;
    QPushButton* openFolder_;
    QLabel* message_;
    QLabel* routeStatus_;
    QPushButton* reconnect_;
};

}  // namespace norv
