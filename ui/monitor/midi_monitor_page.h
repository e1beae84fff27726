#pragma once
// The MIDI / MPE monitor page's content: the controls panel (listen switch, refresh rate,
// counters, Export and Clear, route segments, search, four filter menus), the empty states and
// the table. Filter values live in the store; the store-facing page passes them in with each
// change and supplies the actions that write them.

#include "core/dialog_service.h"
#include "ui/monitor/midi_monitor_view_model.h"

#include <QWidget>
#include <functional>
#include <map>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedLayout;
class QToolButton;

namespace norv {

class EmptyState;
class MidiMonitorTableView;

class MidiMonitorPageView : public QWidget {
    Q_OBJECT
public:
    struct State {
        const std::vector<MidiMonitorEvent>* events = nullptr;  // the store's buffer, oldest first
        std::int64_t dropped = 0;
        bool listening = true;
        MidiMonitorRefreshRate refreshRate = MidiMonitorRefreshRate::ten;
        MidiMonitorFilter filter;
        MidiMonitorMenus::DeviceLabel deviceLabel;       // the store's deviceLabel(for:)
        std::map<std::string, std::string> snapshotLabels;  // device id → snapshot label, for the CSV
    };
    struct Actions {
        std::function<void(bool)> setListening;
        std::function<void(MidiMonitorRefreshRate)> setRefreshRate;
        std::function<void(const QString&)> setRole;
        std::function<void(const QString&)> setDevice;
        std::function<void(const QString&)> setEndpoint;
        std::function<void(int)> setChannel;
        std::function<void()> selectAllFamilies;
        std::function<void(MidiMessageFamily)> toggleFamily;
        std::function<void(const QString&)> setSearch;
        std::function<void()> clear;
    };

    MidiMonitorPageView(Actions actions, DialogService& dialogs, QWidget* parent = nullptr);

    void setState(State state);

    MidiMonitorTableView* table() const { return table_; }
    QLabel* eventsLabel() const { return events_; }
    QLabel* droppedLabel() const { return dropped_; }
    QPushButton* exportButton() const { return export_; }
    QPushButton* clearButton() const { return clear_; }
    QComboBox* refreshPicker() const { return refresh_; }
    QToolButton* deviceMenu() const { return deviceMenu_; }
    QToolButton* messageMenu() const { return messageMenu_; }
    EmptyState* emptyState() const { return empty_; }
    bool showingTable() const;

private:
    void exportEvents();
    void fillDeviceMenu();
    void fillEndpointMenu();
    void fillChannelMenu();
    void fillMessageMenu();

    Actions actions_;
    DialogService& dialogs_;
    State state_;
    std::vector<std::size_t> filtered_;

    QCheckBox* listen_;
    QLabel* listenDot_;
    QComboBox* refresh_;
    QLabel* events_;
    QLabel* dropped_;
    QPushButton* export_;
    QPushButton* clear_;
    QButtonGroup* route_;
    QLineEdit* search_;
    QToolButton* deviceMenu_;
    QToolButton* endpointMenu_;
    QToolButton* channelMenu_;
    QToolButton* messageMenu_;
    QStackedLayout* body_;
    QWidget* emptyHolder_;
    EmptyState* empty_ = nullptr;
    QString emptyKey_;
    MidiMonitorTableView* table_;
};

}  // namespace norv
