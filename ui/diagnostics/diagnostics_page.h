#pragma once
// The Diagnostics page's content: header with the export button, connection identities (with a
// slot for the pending pairing requests panel), search / level / pause / follow controls, the
// detailed capture row, the log list and the footer. The store-facing page feeds it the engine
// host's lines and the snapshot's diagnostic record and supplies the three actions.

#include "model/diagnostic_status.h"

#include <QDateTime>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <chrono>
#include <functional>
#include <optional>

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

class DiagnosticsPageView : public QWidget {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kRefreshInterval{500};

    struct Actions {
        std::function<void()> refreshLogs;                 // copy the host's buffer into its lines
        std::function<void(bool start)> setDetailedCapture;
        // Writes the archive; `done` gets an error text or none, on the GUI thread.
        std::function<void(const QString& path, std::function<void(std::optional<QString>)> done)> exportDiagnostics;
        std::function<QDateTime()> now;                   // the moment for the proposed name
    };

    // What the page reads of the store and the engine host.
    struct State {
        QStringList logLines;  // oldest first
        std::optional<QString> fingerprint;
        std::optional<DiagnosticStatus> diagnostics;
        bool canChange = false;
    };

    DiagnosticsPageView(Actions actions, DialogService& dialogs,
                        std::chrono::milliseconds refreshInterval = kRefreshInterval, QWidget* parent = nullptr);

    // Updates the page in place: the user's search, level, selection and scroll stay.
    void setState(const State& state);
    // The page is shown: refresh at once, then every tick unless paused.
    void start();

    // Where the pending pairing requests panel goes, inside "Connection identities".
    QVBoxLayout* identitiesSlot() const { return identities_; }

    QLineEdit* searchField() const { return search_; }
    QComboBox* levelPicker() const { return level_; }
    QPushButton* pauseButton() const { return pause_; }
    QPushButton* captureButton() const { return capture_; }
    QPushButton* exportButton() const { return export_; }
    QLabel* countLabel() const { return count_; }
    QLabel* captureStatus() const { return captureStatus_; }
    QLabel* footerLabel() const { return footer_; }
    DiagnosticsLogView* logView() const { return log_; }

private:
    void refresh(bool linesChanged);
    void tick();
    void exportArchive();

    Actions actions_;
    DialogService& dialogs_;
    State state_;
    bool paused_ = false;
    bool exporting_ = false;
    QString exportResult_;
    QTimer* timer_;

    QPushButton* export_;
    QLabel* fingerprintLabel_;
    QVBoxLayout* identities_;
    QLineEdit* search_;
    QComboBox* level_;
    QPushButton* pause_;
    QCheckBox* follow_;
    QPushButton* capture_;
    QLabel* captureStatus_;
    QLabel* count_;
    DiagnosticsLogView* log_;
    QLabel* footer_;
    QLabel* dropped_;
    QLabel* storage_;
};

}  // namespace norv
