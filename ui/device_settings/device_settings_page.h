#pragma once
// The shared settings profiles of the current bridge session, each with a button that pushes
// it to every connected device, and the engine's summary of the last push. A view: the page
// factory hands it the store's state on every change; profiles are kept by scope.

#include "ui/components/keyed_list.h"
#include "ui/components/page_frame.h"
#include "ui/device_settings/device_settings_view_model.h"
#include "ui/theme/norv_panel.h"

#include <QString>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QLabel;
class QPushButton;

namespace norv {

struct SettingsProfileContent {
    SettingsProfileRow row;
    bool pushAllowed = false;
    friend bool operator==(const SettingsProfileContent&, const SettingsProfileContent&) = default;
};

// One profile: its title, source, count and time, and "Apply to connected devices".
class SettingsProfilePanel : public NorvPanel {
    Q_OBJECT
public:
    SettingsProfilePanel(const SettingsProfileContent& content, std::function<void(const QString&)> push,
                         QWidget* parent = nullptr);
    void setContent(const SettingsProfileContent& content);

private:
    SettingsProfileContent content_;
    QLabel* title_;
    QLabel* source_;
    QLabel* count_;
    QLabel* time_;
    QPushButton* push_;
};

class DeviceSettingsPage : public PageFrame {
    Q_OBJECT
public:
    struct State {
        AdminSnapshot snapshot = AdminSnapshot::empty();
        bool canChange = false;
        std::set<std::string> pendingActions;
    };
    struct Actions {
        std::function<void(const QString& scope)> push;
    };

    explicit DeviceSettingsPage(Actions actions, QWidget* parent = nullptr);

    void setState(const State& state);

private:
    Actions actions_;
    QWidget* empty_;
    QLabel* result_;
    KeyedList<SettingsProfileContent, SettingsProfilePanel> profiles_;
};

}  // namespace norv
