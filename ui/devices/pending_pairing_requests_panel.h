#pragma once
// The devices waiting for access, each with "Allow" and "Revoke access". Draws nothing while the
// engine reports no request. Shown on the Diagnostics page.

#include "ui/components/keyed_list.h"
#include "ui/devices/pending_pairing_requests_model.h"

#include <QWidget>

#include <optional>

class QLabel;
class QPushButton;

namespace norv {

class BridgeStore;

// One waiting device, kept by its id while it waits.
class PairingRequestLine : public QWidget {
    Q_OBJECT
public:
    PairingRequestLine(const PairingRequestRow& row, BridgeStore& store, QWidget* parent = nullptr);
    void setContent(const PairingRequestRow& row);

private:
    PairingRequestRow row_;
    QWidget* title_;
    QLabel* detail_;
    std::optional<bool> detailIsFingerprint_;  // as the detail line was last styled
    QPushButton* allow_;
    QPushButton* revoke_;
};

class PendingPairingRequestsPanel : public QWidget {
    Q_OBJECT
public:
    explicit PendingPairingRequestsPanel(BridgeStore& store, QWidget* parent = nullptr);

    void refresh();

private:
    BridgeStore& store_;
    KeyedList<PairingRequestRow, PairingRequestLine> rows_;
};

}  // namespace norv
