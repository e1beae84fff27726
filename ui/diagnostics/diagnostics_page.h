#pragma once
// The Diagnostics page: header with the export button, connection identities (with the pending
// pairing requests), search / level / pause / follow controls, the detailed capture row, the log
// list and the footer. The page factory hands it the engine host's lines and the snapshot on
// every change and supplies the actions.

#include "model/admin_snapshot.h"
#include "ui/components/page_frame.h"
#include "ui/diagnostics/pending_pairing_requests_panel.h"

#include <QDateTime>
#include <QPointer>
#include <QStringList>
#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QVBoxLayout;

namespace norv {

class DiagnosticsLogView;
class DialogService;

class DiagnosticsPage : public PageFrame {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kRefreshInterval{500};

    struct State {
        AdminSnapshot snapshot = AdminSnapshot::empty();  // its diagnostic record and pairing requests
        QStringList logLines;                             // the engine host's, oldest first
        std::optional<QString> fingerprint;
        bool canChange = false;
        std::set<std::string> pendingActions;
    };
    struct Actions {
        std::function<void()> refreshLogs;                 // copy the host's buffer into its lines
        std::function<void(bool start)> setDetailedCapture;
        // Writes the archive; `done` gets an error text or none, on the GUI thread.
        std::function<void(const QString& path, std::function<void(std::optional<QString>)> done)> exportDiagnostics;
        std::function<QDateTime()> now;                   // the moment for the proposed name
        PendingPairingRequestsPanel::Actions pairing;
        DialogService* dialogs = nullptr;  // asks where the archive goes
    };

    explicit DiagnosticsPage(Actions actions, QWidget* parent = nullptr);

    // Updates the page in place: the user's search, level, selection and scroll stay.
    void setState(const State& state);
    void setRefreshInterval(std::chrono::milliseconds interval);
    // The page is shown: refresh at once, then every tick unless paused.
    void start();

    QLineEdit* searchField() const { return search_; }
    QComboBox* levelPicker() const { return level_; }
    QPushButton* pauseButton() const { return pause_; }
    QPushButton* captureButton() const { return capture_; }
    QPushButton* exportButton() const { return export_; }
    QLabel* countLabel() const { return count_; }
    QLabel* captureStatus() const { return captureStatus_; }
    QLabel* footerLabel() const { return footer_; }
    // Where the last export went, beside the footer's "Diagnostics exported".
    QLabel* savedLabel() const { return savedTo_; }
    DiagnosticsLogView* logView() const { return log_; }

private:
    void buildIdentities(QWidget* page, QVBoxLayout* column);
    void buildFooter(QWidget* page, QVBoxLayout* column);
    void refresh(bool linesChanged);
    void tick();
    void exportArchive();

    Actions actions_;
    State state_;
    bool paused_ = false;
    bool exporting_ = false;
    QString exportResult_;
    QString exportedTo_;  // the archive's path after a successful export
    QTimer* timer_;

    QPushButton* export_;
    QLabel* fingerprintLabel_;
    PendingPairingRequestsPanel* pairingRequests_;
    QLineEdit* search_;
    QComboBox* level_;
    QPushButton* pause_;
    QCheckBox* follow_;
    QPushButton* capture_;
    QLabel* captureStatus_;
    QLabel* count_;
    DiagnosticsLogView* log_;
    QLabel* footer_;
    QLabel* savedTo_;
    QLabel* dropped_;
    QLabel* storage_;
};

}  // namespace norv
