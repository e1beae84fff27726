#pragma once
// The devices waiting for access, each with "Allow" and "Revoke access". Draws nothing while the
// engine reports no request. Shown on the Diagnostics page, which hands it its rows on every change;
// rows are kept by device id.

#include "ui/components/keyed_list.h"
#include "ui/diagnostics/pending_pairing_requests_model.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <string>

class QLabel;
class QPushButton;

namespace norv {

class PairingRequestLine;

class PendingPairingRequestsPanel : public QWidget {
    Q_OBJECT
public:
    struct Actions {
        // The request's own fingerprint goes with "Allow".
        std::function<void(const std::string& deviceId, const std::optional<std::string>& fingerprint)> allow;
        std::function<void(const std::string& deviceId)> revoke;
    };

    explicit PendingPairingRequestsPanel(Actions actions, QWidget* parent = nullptr);

    void setRows(const std::vector<PairingRequestRow>& rows);

private:
    Actions actions_;
    KeyedList<PairingRequestRow, PairingRequestLine> rows_;
};

// One waiting device, kept by its id while it waits.
class PairingRequestLine : public QWidget {
    Q_OBJECT
public:
    PairingRequestLine(const PairingRequestRow& row, const PendingPairingRequestsPanel::Actions& actions,
                       QWidget* parent = nullptr);
    void setContent(const PairingRequestRow& row);

private:
    PendingPairingRequestsPanel::Actions actions_;
    PairingRequestRow row_;
    QWidget* title_;
    QLabel* detail_;
    std::optional<bool> detailIsFingerprint_;  // as the detail line was last styled
    QPushButton* allow_;
    QPushButton* revoke_;
};

}  // namespace norv
