#pragma once
// Pieces of the Connections page that follow the engine in place: a manual Wi-Fi target with
// its copy button, and the Remote Control status panel.

#include "ui/connections/connections_view_model.h"
#include "ui/theme/norv_panel.h"

#include <QString>
#include <QWidget>

class QLabel;

namespace norv {

// One "address:port" a device can be pointed at, with "Copy". Kept by its text.
class ManualTargetRow : public QWidget {
public:
    explicit ManualTargetRow(const QString& target, QWidget* parent = nullptr);
    void setContent(const QString&) {}  // a target's row shows only its key
};

class RemoteControlPanel : public NorvPanel {
public:
    explicit RemoteControlPanel(QWidget* parent = nullptr);
    void setContent(const RemoteControlContent& content);

private:
    QLabel* detail_;
    QLabel* live_;
    QLabel* events_;
};

}  // namespace norv
