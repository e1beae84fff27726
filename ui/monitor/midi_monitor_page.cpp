#include "ui/monitor/midi_monitor_page.h"

#include "model/text_rules.h"
#include "ui/components/save_panel_path.h"
#include "ui/monitor/midi_monitor_export.h"
#include "ui/monitor/midi_monitor_table_view.h"
#include "ui/theme/norv_field_style.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>

namespace norv {

namespace {

QString qt(const std::string& text) { return QString::fromStdString(text); }

QToolButton* filterMenu(const QString& symbol, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setIcon(NorvSymbols::icon(symbol, NorvTheme::primary(), 14));
    NorvSymbols::tag(button, symbol);
    button->setMinimumSize(150, 44);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    button->setStyleSheet(QStringLiteral("QToolButton { background: %1; border: 0.75px solid %2; padding: 0 10px; "
                                         "text-align: left; } QToolButton::menu-indicator { image: none; }")
                              .arg(NorvTheme::css(NorvTheme::field()), NorvTheme::css(NorvTheme::fieldOutline())));
    button->setMenu(new QMenu(button));
    return button;
}

// One choice: a check mark on the one in force, a circle on the others.
QAction* choice(QMenu* menu, const QString& text, bool selected) {
    const QString symbol = selected ? QStringLiteral("checkmark") : QStringLiteral("circle");
    QAction* action = menu->addAction(NorvSymbols::icon(symbol, NorvTheme::primary(), 12), text);
    NorvSymbols::tag(action, symbol);
    return action;
}

}  // namespace

MidiMonitorPage::MidiMonitorPage(Actions actions, QWidget* parent)
    : PageFrame(parent, Height::fill), actions_(std::move(actions)) {
    setObjectName(QStringLiteral("page_midiMonitor"));
    QVBoxLayout* column = this->column();
    column->addWidget(new PageHeader(QStringLiteral("REAL-TIME DIAGNOSTICS"), QStringLiteral("MIDI / MPE Monitor"),
                                     QString::fromUtf8("Instrument · MIDI Surface"), content()));

    auto* controls = new QWidget(content());
    fillBackground(controls, NorvTheme::panel());
    auto* rows = new QVBoxLayout(controls);
    rows->setContentsMargins(14, 14, 14, 14);
    rows->setSpacing(12);

    auto* first = new QHBoxLayout;
    first->setSpacing(12);
    listenDot_ = new QLabel(controls);
    listenDot_->setFixedSize(7, 7);
    first->addWidget(listenDot_);
    listen_ = new QCheckBox(QStringLiteral("LISTEN"), controls);
    listen_->setFont(NorvTheme::sectionFont());
    first->addWidget(listen_);
    auto* divider = new QFrame(controls);
    divider->setFixedSize(1, 24);
    fillBackground(divider, NorvTheme::stroke());
    first->addWidget(divider);
    refresh_ = new QComboBox(controls);
    refresh_->setAccessibleName(QStringLiteral("Refresh"));
    refresh_->setFixedWidth(145);
    for (const MidiMonitorRefreshRate rate : MidiMonitorRefreshRate::allCases()) {
        refresh_->addItem(MidiMonitorViewModel::refreshRateTitle(rate), rate.rawValue());
    }
    first->addWidget(refresh_);
    first->addStretch();
    // Sized for a full buffer's four digits and fixed: a count that changes with every batch lays
    // out nothing. Right-aligned, its text stands where a label of its own width would put it.
    events_ = makeLabel(QStringLiteral("0000 EVENTS"), NorvTheme::systemFont(10, QFont::Bold, true),
                        NorvTheme::secondary(), controls);
    events_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    events_->setFixedSize(events_->sizeHint());
    events_->clear();
    fillBackground(events_, NorvTheme::panel());  // opaque: a new count repaints the label alone
    dropped_ = makeLabel(QString(), NorvTheme::systemFont(10, QFont::Bold, true), NorvTheme::red(), controls);
    first->addWidget(events_, 0, Qt::AlignVCenter);
    first->addWidget(dropped_);
    export_ = new QPushButton(NorvSymbols::icon(QStringLiteral("square.and.arrow.up"), NorvTheme::primary()),
                              QStringLiteral("Export"), controls);
    clear_ = new QPushButton(NorvSymbols::icon(QStringLiteral("trash"), NorvTheme::primary()), QStringLiteral("Clear"),
                             controls);
    first->addWidget(export_);
    first->addWidget(clear_);
    rows->addLayout(first);

    auto* second = new QHBoxLayout;
    second->setSpacing(12);
    auto* segments = new QWidget(controls);
    segments->setMaximumWidth(360);
    auto* segmentRow = new QHBoxLayout(segments);
    segmentRow->setContentsMargins(0, 0, 0, 0);
    segmentRow->setSpacing(0);
    route_ = new QButtonGroup(this);
    route_->setExclusive(true);
    for (const auto& segment : MidiMonitorViewModel::routeSegments()) {
        auto* button = new QPushButton(segment.title, segments);
        button->setCheckable(true);
        button->setProperty("routeValue", segment.value);
        route_->addButton(button);
        segmentRow->addWidget(button);
    }
    second->addWidget(segments);
    search_ = new QLineEdit(controls);
    search_->setPlaceholderText(QStringLiteral("Search MIDI"));
    search_->setMinimumWidth(180);
    NorvFieldStyle::apply(search_);
    second->addWidget(search_, 1);
    rows->addLayout(second);

    auto* grid = new QGridLayout;
    grid->setSpacing(8);
    deviceMenu_ = filterMenu(QStringLiteral("ipad.and.iphone"), controls);
    endpointMenu_ = filterMenu(QStringLiteral("cable.connector"), controls);
    channelMenu_ = filterMenu(QStringLiteral("number"), controls);
    messageMenu_ = filterMenu(QStringLiteral("line.3.horizontal.decrease"), controls);
    grid->addWidget(deviceMenu_, 0, 0);
    grid->addWidget(endpointMenu_, 0, 1);
    grid->addWidget(channelMenu_, 0, 2);
    grid->addWidget(messageMenu_, 0, 3);
    rows->addLayout(grid);
    column->addWidget(controls);

    auto* bodyHolder = new QWidget(content());
    body_ = new QStackedLayout(bodyHolder);
    emptyHolder_ = new NorvPanel(bodyHolder);
    body_->addWidget(emptyHolder_);
    table_ = new MidiMonitorTableView(bodyHolder);
    body_->addWidget(table_);
    column->addWidget(bodyHolder, 1);
    saved_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), this);
    saved_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    saved_->hide();
    column->addWidget(saved_);

    // Menus are filled when they open, so a redraw never replaces an open menu's items.
    connect(deviceMenu_->menu(), &QMenu::aboutToShow, this, &MidiMonitorPage::fillDeviceMenu);
    connect(endpointMenu_->menu(), &QMenu::aboutToShow, this, &MidiMonitorPage::fillEndpointMenu);
    connect(channelMenu_->menu(), &QMenu::aboutToShow, this, &MidiMonitorPage::fillChannelMenu);
    connect(messageMenu_->menu(), &QMenu::aboutToShow, this, &MidiMonitorPage::fillMessageMenu);

    connect(listen_, &QCheckBox::toggled, this, [this](bool on) {
        if (actions_.setListening) actions_.setListening(on);
    });
    connect(refresh_, &QComboBox::activated, this, [this](int index) {
        const auto rate = MidiMonitorRefreshRate::fromRaw(refresh_->itemData(index).toInt());
        if (rate && actions_.setRefreshRate) actions_.setRefreshRate(*rate);
    });
    connect(route_, &QButtonGroup::buttonClicked, this, [this](QAbstractButton* button) {
        if (actions_.setRole) actions_.setRole(button->property("routeValue").toString());
    });
    connect(search_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (actions_.setSearch) actions_.setSearch(text);
    });
    connect(clear_, &QPushButton::clicked, this, [this] {
        if (actions_.clear) actions_.clear();
    });
    connect(export_, &QPushButton::clicked, this, &MidiMonitorPage::exportEvents);
}

std::string MidiMonitorPage::deviceLabel(const std::string& deviceId) const {
    return monitorDeviceLabel(state_.deviceLabels, deviceId);
}

const MidiMonitorIndex& MidiMonitorPage::index() {
    index_.update(*buffer_, state_.filter);
    return index_;
}

std::vector<MidiMonitorEvent> MidiMonitorPage::filteredEvents() { return index().filteredEvents(*buffer_); }

void MidiMonitorPage::setState(const State& state) {
    // The controls follow the switch, rate, filter and labels; a batch of events changes none.
    const bool controlsShown = controlsShown_ && state.listening == state_.listening &&
                               state.refreshRate == state_.refreshRate && state.filter == state_.filter &&
                               state.deviceLabels == state_.deviceLabels;
    if (state.buffer != nullptr) {
        buffer_ = state.buffer;
    } else {
        ownEvents_.replace(state.events);
        buffer_ = &ownEvents_;
    }
    state_ = state;
    state_.events.clear();
    const MidiMonitorBuffer& events = *buffer_;
    const std::deque<std::uint64_t>& passing = index().passing();
    const MidiMonitorViewModel::DeviceLabel label = [this](const std::string& id) { return deviceLabel(id); };
    if (!controlsShown) showControls(label);
    controlsShown_ = true;

    const QString count = QString::number(events.size()) + QStringLiteral(" EVENTS");
    if (events_->text() != count) {
        events_->setText(count);
        if (events_->sizeHint().width() > events_->maximumWidth()) events_->setFixedSize(events_->sizeHint());
    }
    const QString dropped = QString::number(state_.dropped) + QStringLiteral(" DROPPED");
    if (dropped_->text() != dropped) dropped_->setText(dropped);
    dropped_->setVisible(state_.dropped > 0);
    export_->setEnabled(!passing.empty());
    clear_->setEnabled(!events.empty());
    showBody(state.buffer != nullptr ? nullptr : &state.events, passing, label);
}

void MidiMonitorPage::showControls(const MidiMonitorViewModel::DeviceLabel& label) {
    {
        const QSignalBlocker blockListen(listen_);
        const QSignalBlocker blockRefresh(refresh_);
        const QSignalBlocker blockSearch(search_);
        if (listen_->isChecked() != state_.listening) listen_->setChecked(state_.listening);
        const int rate = refresh_->findData(state_.refreshRate.rawValue());
        if (rate != refresh_->currentIndex()) refresh_->setCurrentIndex(rate);
        // The search text is the store's, but a field the user is typing in keeps its own text.
        const QString search = qt(state_.filter.searchText);
        if (search_->text() != search && !search_->hasFocus()) search_->setText(search);
        for (QAbstractButton* button : route_->buttons()) {
            const bool on = button->property("routeValue").toString() == qt(state_.filter.role);
            if (button->isChecked() != on) button->setChecked(on);
        }
    }
    const QString dot = QStringLiteral("background: %1; border-radius: 3px;")
                            .arg(NorvTheme::css(state_.listening ? NorvTheme::teal() : NorvTheme::secondary()));
    if (listenDot_->styleSheet() != dot) listenDot_->setStyleSheet(dot);
    refresh_->setEnabled(state_.listening);
    deviceMenu_->setText(MidiMonitorViewModel::deviceFilterTitle(state_.filter, label));
    endpointMenu_->setText(MidiMonitorViewModel::endpointFilterTitle(state_.filter));
    channelMenu_->setText(MidiMonitorViewModel::channelFilterTitle(state_.filter));
    messageMenu_->setText(MidiMonitorViewModel::messageTypeFilterTitle(state_.filter));
}

void MidiMonitorPage::showBody(const std::vector<MidiMonitorEvent>* list, const std::deque<std::uint64_t>& passing,
                               const MidiMonitorViewModel::DeviceLabel& label) {
    const MidiMonitorBuffer& events = *buffer_;
    QString symbol;
    QString title;
    if (events.empty()) {
        symbol = state_.listening ? QStringLiteral("waveform.path.ecg") : QStringLiteral("pause.circle");
        title = state_.listening ? QStringLiteral("Waiting for MIDI") : QStringLiteral("Listening is off");
    } else if (passing.empty()) {
        symbol = QStringLiteral("line.3.horizontal.decrease.circle");
        title = QStringLiteral("No matching events");
    }
    if (title.isEmpty()) {
        if (list == nullptr) {
            table_->monitorModel()->refresh(events, passing, index_.generation(), label);
        } else {
            // A list of events: the table matches its rows by sequence, as lists have no positions.
            std::vector<std::size_t> indices;
            indices.reserve(passing.size());
            for (const std::uint64_t position : passing)
                indices.push_back(static_cast<std::size_t>(position - events.firstPosition()));
            table_->monitorModel()->refresh(*list, indices, label);
        }
        body_->setCurrentWidget(table_);
        return;
    }
    if (title != emptyKey_) {
        delete empty_;
        empty_ = new EmptyState(symbol, title, QString(), emptyHolder_);
        static_cast<NorvPanel*>(emptyHolder_)->contentLayout()->addWidget(empty_);
        emptyKey_ = title;
    }
    body_->setCurrentWidget(emptyHolder_);
}

bool MidiMonitorPage::showingTable() const { return body_->currentWidget() == table_; }

void MidiMonitorPage::exportEvents() {
    if (actions_.dialogs == nullptr) return;
    QString written;
    if (MidiMonitorExport::run(*actions_.dialogs, filteredEvents(), state_.deviceLabels, QDateTime::currentDateTime(),
                               &written) == MidiMonitorExport::Outcome::written) {
        saved_->setText(savedToText(written));
        saved_->show();
    }
}

void MidiMonitorPage::fillDeviceMenu() {
    QMenu* menu = deviceMenu_->menu();
    menu->clear();
    connect(menu->addAction(QStringLiteral("All Devices")), &QAction::triggered, this, [this] {
        if (actions_.setDevice) actions_.setDevice(QStringLiteral("all"));
    });
    menu->addSeparator();
    const MidiMonitorViewModel::DeviceLabel label = [this](const std::string& id) { return deviceLabel(id); };
    for (const std::string& id : MidiMonitorViewModel::sortedDeviceIds(index().deviceIds(*buffer_), label)) {
        const QString value = qt(id);
        const bool chosen = text_rules::canonicallyEqual(id, state_.filter.deviceId);
        connect(choice(menu, qt(deviceLabel(id)), chosen), &QAction::triggered, this, [this, value] {
            if (actions_.setDevice) actions_.setDevice(value);
        });
    }
}

void MidiMonitorPage::fillEndpointMenu() {
    QMenu* menu = endpointMenu_->menu();
    menu->clear();
    connect(menu->addAction(QStringLiteral("All Endpoints")), &QAction::triggered, this, [this] {
        if (actions_.setEndpoint) actions_.setEndpoint(QStringLiteral("all"));
    });
    menu->addSeparator();
    for (const std::string& name : index().endpoints(*buffer_)) {
        const QString value = qt(name);
        const bool chosen = text_rules::canonicallyEqual(name, state_.filter.endpoint);
        connect(choice(menu, value, chosen), &QAction::triggered, this, [this, value] {
            if (actions_.setEndpoint) actions_.setEndpoint(value);
        });
    }
}

void MidiMonitorPage::fillChannelMenu() {
    QMenu* menu = channelMenu_->menu();
    menu->clear();
    connect(menu->addAction(QStringLiteral("All Channels")), &QAction::triggered, this, [this] {
        if (actions_.setChannel) actions_.setChannel(0);
    });
    menu->addSeparator();
    for (int channel = 1; channel <= 16; ++channel) {
        connect(choice(menu, MidiMonitorViewModel::channelTitle(channel), channel == state_.filter.channel),
                &QAction::triggered, this, [this, channel] {
                    if (actions_.setChannel) actions_.setChannel(channel);
                });
    }
}

void MidiMonitorPage::fillMessageMenu() {
    QMenu* menu = messageMenu_->menu();
    menu->clear();
    connect(choice(menu, QStringLiteral("All Messages"), state_.filter.families.count() == 5), &QAction::triggered,
            this, [this] {
                if (actions_.selectAllFamilies) actions_.selectAllFamilies();
            });
    menu->addSeparator();
    for (const MidiMessageFamily family : MidiMessageFamily::allCases()) {
        connect(choice(menu, MidiMonitorViewModel::familyTitle(family), state_.filter.families.contains(family)),
                &QAction::triggered, this, [this, family] {
                    if (actions_.toggleFamily) actions_.toggleFamily(family);
                });
    }
}

}  // namespace norv
