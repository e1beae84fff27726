#pragma once
// The MIDI / MPE monitor page: the controls panel (listen switch, refresh rate, counters, Export
// and Clear, route segments, search, four filter menus), the empty states and the table. Filter
// values live in the store; the page factory hands them in with each change and supplies the
// actions that write them.

#include "core/dialog_service.h"
#include "model/midi_monitor_buffer.h"
#include "model/midi_monitor_index.h"
#include "ui/components/page_frame.h"
#include "ui/monitor/midi_monitor_view_model.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

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

class MidiMonitorPage : public PageFrame {
    Q_OBJECT
public:
    struct State {
        // The store's buffer, read in place; it outlives the page. Without one, the page keeps
        // `events` (oldest first) in a buffer of its own.
        const MidiMonitorBuffer* buffer = nullptr;
        std::vector<MidiMonitorEvent> events;
        std::int64_t dropped = 0;
        bool listening = true;
        MidiMonitorRefreshRate refreshRate = MidiMonitorRefreshRate::ten;
        MidiMonitorFilter filter;
        std::map<std::string, std::string> deviceLabels;  // device id → the snapshot's label
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
        DialogService* dialogs = nullptr;  // asks where the export goes
    };

    explicit MidiMonitorPage(Actions actions, QWidget* parent = nullptr);

    void setState(const State& state);
    // The buffered events that pass the filter, oldest first: what Export writes.
    std::vector<MidiMonitorEvent> filteredEvents();

    MidiMonitorTableView* table() const { return table_; }
    QLabel* eventsLabel() const { return events_; }
    QLabel* droppedLabel() const { return dropped_; }
    QPushButton* exportButton() const { return export_; }
    QPushButton* clearButton() const { return clear_; }
    QComboBox* refreshPicker() const { return refresh_; }
    QToolButton* deviceMenu() const { return deviceMenu_; }
    QToolButton* endpointMenu() const { return endpointMenu_; }
    QToolButton* messageMenu() const { return messageMenu_; }
    EmptyState* emptyState() const { return empty_; }
    // Where the last export went; hidden until one is written.
    QLabel* savedLabel() const { return saved_; }
    bool showingTable() const;

private:
    void exportEvents();
    // The switch, rate, search, route and menu titles as the state has them.
    void showControls(const MidiMonitorViewModel::DeviceLabel& label);
    // The table, or the empty state in its place. `list`: the events a page without the store's
    // buffer was given.
    void showBody(const std::vector<MidiMonitorEvent>* list, const std::deque<std::uint64_t>& passing,
                  const MidiMonitorViewModel::DeviceLabel& label);
    void fillDeviceMenu();
    void fillEndpointMenu();
    void fillChannelMenu();
    void fillMessageMenu();
    std::string deviceLabel(const std::string& deviceId) const;
    // The index, brought up to the buffer as it stands.
    const MidiMonitorIndex& index();

    Actions actions_;
    State state_;  // all but the events
    bool controlsShown_ = false;
    MidiMonitorBuffer ownEvents_;
    const MidiMonitorBuffer* buffer_ = &ownEvents_;
    MidiMonitorIndex index_;

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
    QLabel* saved_;
};

}  // namespace norv
