#pragma once
// The devices waiting for access, each with "Allow" and "Revoke access". Draws nothing while the
// engine reports no request. Shown on the Diagnostics page.

#include <QString>
#include <QWidget>

class QVBoxLayout;

namespace norv {

class BridgeStore;

class PendingPairingRequestsPanel : public QWidget {
    Q_OBJECT
public:
    explicit PendingPairingRequestsPanel(BridgeStore& store, QWidget* parent = nullptr);

    void refresh();

private:
    BridgeStore& store_;
    QVBoxLayout* rows_;
    QString shownKey_;
};

}  // namespace norv
