#pragma once
// The first page: is the engine reachable, is Live linked, how many devices and confirmed
// routes, any error of the engine host, shortcuts to three pages and the connected hardware.

#include "ui/overview/page_frame.h"

#include <QString>
#include <functional>
#include <optional>

class QPushButton;
class QVBoxLayout;

namespace norv {

class AdaptiveGrid;
class BridgeStore;

class OverviewPage : public PageFrame {
    Q_OBJECT
public:
    // The engine host's last failure ("Bridge exited with status 1"), none while there is none.
    using HostError = std::function<std::optional<QString>()>;

    explicit OverviewPage(BridgeStore& store, HostError hostError = {}, QWidget* parent = nullptr);

    // Re-reads the store; called on every change it announces.
    void refresh();

    QWidget* actionBanner() const { return banner_; }  // null while the host reports no error
    AdaptiveGrid* statusGrid() const { return grid_; }
    QWidget* hardwarePanel() const { return hardware_; }

private:
    BridgeStore& store_;
    HostError hostError_;
    QWidget* banner_ = nullptr;
    AdaptiveGrid* grid_;
    QWidget* hardware_;
    QVBoxLayout* hardwareList_;
    QString shownKey_;
};

}  // namespace norv
