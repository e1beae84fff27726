#include "ui/live_page/live_page.h"

#include "ui/components/combo_box_entries.h"
#include "ui/live_page/live_view_model.h"
#include "ui/theme/norv_button_style.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace norv {

namespace {

QLabel* section(const QString& text, QWidget* parent, const QColor& color = NorvTheme::primary()) {
    return makeLabel(text, NorvTheme::sectionFont(), color, parent);
}

QLabel* selectable(QLabel* label) {
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    return label;
}

// A caption and a value on one line.
QLabel* labelledValue(const QString& caption, QVBoxLayout* into, QWidget* parent) {
    auto* row = new QHBoxLayout;
    auto* name = makeLabel(caption, NorvTheme::calloutFont(), NorvTheme::secondary(), parent);
    name->setMinimumWidth(90);
    row->addWidget(name);
    auto* value = makeLabel(QString(), NorvTheme::calloutFont(), NorvTheme::primary(), parent);
    row->addWidget(value);
    row->addStretch();
    into->addLayout(row);
    return value;
}

NorvPanel* panel(QWidget* parent, int spacing) {
    auto* p = new NorvPanel(parent);
    p->contentLayout()->setSpacing(spacing);
    return p;
}

}  // namespace

LivePage::LivePage(Actions actions, QWidget* parent)
    : PageFrame(parent),
      integration_(actions.environment ? actions.environment() : LiveIntegration::Environment::system()),
      actions_(std::move(actions)),
      state_(LiveViewModel::initialState()),
      timer_(new QTimer(this)) {
    setObjectName(QStringLiteral("page_live"));
    QWidget* page = content();
    QVBoxLayout* column = this->column();

    column->addWidget(new PageHeader(QStringLiteral("NORV BRIDGE"), QStringLiteral("Ableton Live"),
                                     QString::fromUtf8("Remote Script · MIDI"), page));

    NorvPanel* status = panel(page, 10);
    status->contentLayout()->addWidget(section(QStringLiteral("CURRENT LIVE SESSION"), status, NorvTheme::secondary()));
    statusTitle_ = makeLabel(QString(), NorvTheme::title2Font(), NorvTheme::yellow(), status);
    statusDetail_ = selectable(makeLabel(QString(), NorvTheme::calloutFont(), NorvTheme::secondary(), status));
    status->contentLayout()->addWidget(statusTitle_);
    status->contentLayout()->addWidget(statusDetail_);
    column->addWidget(status);

    NorvPanel* installation = panel(page, 14);
    installationPanel_ = installation;
    QVBoxLayout* il = installation->contentLayout();
    il->addWidget(section(QStringLiteral("LIVE INSTALLATION"), installation));
    auto* pickerRow = new QHBoxLayout;
    picker_ = new QComboBox(installation);
    picker_->setAccessibleName(QStringLiteral("Ableton Live"));
    pickerRow->addWidget(picker_, 1);
    auto* locate = new QPushButton(QString::fromUtf8("Locate Live…"), installation);
    pickerRow->addWidget(locate);
    il->addLayout(pickerRow);
    livePath_ = selectable(makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), installation));
    il->addWidget(livePath_);
    auto* liveButtons = new QHBoxLayout;
    auto* detect = new QPushButton(QStringLiteral("Detect installations"), installation);
    openLive_ = new QPushButton(QStringLiteral("Open Live"), installation);
    liveButtons->addWidget(detect);
    liveButtons->addWidget(openLive_);
    liveButtons->addStretch();
    il->addLayout(liveButtons);
    auto* divider = new QFrame(installation);
    divider->setFixedHeight(1);
    fillBackground(divider, NorvTheme::stroke());
    il->addWidget(divider);
    il->addWidget(section(QStringLiteral("USER LIBRARY"), installation));
    library_ = selectable(makeLabel(QString(), NorvTheme::calloutFont(), NorvTheme::secondary(), installation));
    il->addWidget(library_);
    libraryRow_ = new QWidget(installation);
    auto* libraryButtons = new QHBoxLayout(libraryRow_);
    libraryButtons->setContentsMargins(0, 0, 0, 0);
    auto* choose = new QPushButton(QString::fromUtf8("Choose User Library…"), libraryRow_);
    auto* detected = new QPushButton(QStringLiteral("Use detected library"), libraryRow_);
    libraryButtons->addWidget(choose);
    libraryButtons->addWidget(detected);
    libraryButtons->addStretch();
    il->addWidget(libraryRow_);
    column->addWidget(installation);

    NorvPanel* script = panel(page, 14);
    QVBoxLayout* sl = script->contentLayout();
    sl->addWidget(section(QStringLiteral("REMOTE SCRIPT"), script));
    bundled_ = labelledValue(QStringLiteral("Bundled"), sl, script);
    installed_ = labelledValue(QStringLiteral("Installed"), sl, script);
    auto* scriptButtons = new QHBoxLayout;
    install_ = new QPushButton(script);
    NorvButtonStyle::apply(install_, true);
    verify_ = new QPushButton(QStringLiteral("Verify files"), script);
    openFolder_ = new QPushButton(QStringLiteral("Open script folder"), script);
    scriptButtons->addWidget(install_);
    scriptButtons->addWidget(verify_);
    scriptButtons->addWidget(openFolder_);
    scriptButtons->addStretch();
    sl->addLayout(scriptButtons);
    message_ = makeLabel(QString(), NorvTheme::calloutFont(), NorvTheme::secondary(), script);
    message_->setWordWrap(true);
    sl->addWidget(message_);
    column->addWidget(script);

    auto* midi = new NorvPanel(page);
    auto* midiRow = new QHBoxLayout;
    auto* midiText = new QVBoxLayout;
    midiText->setSpacing(6);
    midiText->addWidget(section(QStringLiteral("MIDI"), midi));
    routeStatus_ = makeLabel(QString(), NorvTheme::calloutFont(), NorvTheme::primary(), midi);
    midiText->addWidget(routeStatus_);
    midiRow->addLayout(midiText);
    midiRow->addStretch();
    reconnect_ = new QPushButton(QStringLiteral("Reconnect MIDI"), midi);
    auto* routes = new QPushButton(QStringLiteral("Routes"), midi);
    midiRow->addWidget(reconnect_);
    midiRow->addWidget(routes);
    midi->contentLayout()->addLayout(midiRow);
    column->addWidget(midi);
    column->addStretch();

    connect(picker_, &QComboBox::activated, this, [this](int index) {
        integration_.setSelectedID(picker_->itemData(index).toString());
    });
    connect(locate, &QPushButton::clicked, this, [this] { request(actions_.locate); });
    connect(detect, &QPushButton::clicked, this, [this] { request(actions_.scan); });
    connect(openLive_, &QPushButton::clicked, this, [this] {
        if (const auto selected = integration_.selected(); selected && actions_.openPath) actions_.openPath(selected->url);
    });
    connect(choose, &QPushButton::clicked, this, [this] { request(actions_.chooseLibrary); });
    connect(detected, &QPushButton::clicked, this, [this] { request(actions_.useDetectedLibrary); });
    connect(install_, &QPushButton::clicked, this, [this] { request(actions_.install); });
    connect(verify_, &QPushButton::clicked, this, [this] { request(actions_.verify); });
    connect(openFolder_, &QPushButton::clicked, this, [this] {
        if (const auto folder = LiveViewModel::scriptFolder(integration_.library()); folder && actions_.openPath)
            actions_.openPath(*folder);
    });
    connect(reconnect_, &QPushButton::clicked, this, [this] {
        if (actions_.reconnectMidi) actions_.reconnectMidi();
    });
    connect(routes, &QPushButton::clicked, this, [this] {
        if (actions_.showRoutes) actions_.showRoutes();
    });
    connect(&integration_, &LiveIntegration::changed, this, [this] {
        // A new selection, whoever made it, is followed by its User Library and file check. The
        // page reacts once the integration's own step is over: a locate rescans before the new
        // installation is listed, and its scan then selects it with its detected library.
        if (integration_.selectedID() != lastSelectedID_ && !selectionQueued_) {
            selectionQueued_ = true;
            QTimer::singleShot(0, this, &LivePage::followSelection);
        }
        refresh();
    });

    // The timer and the integration's completions belong to this page and end with it.
    timer_->setInterval(kStatusInterval);
    connect(timer_, &QTimer::timeout, this, &LivePage::updateState);
    lastSelectedID_ = integration_.selectedID();
    refresh();
}

LivePage::~LivePage() = default;

void LivePage::setStatusInterval(std::chrono::milliseconds interval) { timer_->setInterval(interval); }

void LivePage::start() {
    timer_->start();
    request(actions_.scan);
}

void LivePage::request(const Request& request) {
    if (request) request(integration_, [this] { updateState(); });
}

void LivePage::setState(const State& state) {
    store_ = state;
    refresh();
}

void LivePage::followSelection() {
    selectionQueued_ = false;
    if (integration_.selectedID() == lastSelectedID_) return;
    lastSelectedID_ = integration_.selectedID();
    integration_.select([this] { updateState(); });
}

void LivePage::updateState() {
    state_ = integration_.runtime(store_.health, store_.connected);
    refresh();
}

void LivePage::refresh() {
    statusTitle_->setText(state_.title);
    const QString titleStyle = QStringLiteral("color: %1; font-weight: 600;")
                                   .arg(NorvTheme::css(state_.active ? NorvTheme::teal() : NorvTheme::yellow()));
    if (statusTitle_->styleSheet() != titleStyle) statusTitle_->setStyleSheet(titleStyle);
    statusDetail_->setText(state_.detail);
    statusDetail_->setVisible(!state_.detail.isEmpty());

    const bool busy = integration_.busy();
    const auto selected = integration_.selected();
    installationPanel_->setEnabled(!busy);
    std::vector<ComboBoxEntry> entries;
    for (const auto& entry : LiveViewModel::pickerEntries(integration_.installations()))
        entries.push_back({entry.label, entry.tag});
    setComboBoxEntries(picker_, entries, integration_.selectedID());
    livePath_->setText(selected ? selected->url : QString());
    livePath_->setVisible(selected.has_value());
    openLive_->setEnabled(LiveViewModel::openLiveEnabled(selected));
    library_->setText(LiveViewModel::libraryText(integration_.library()));
    libraryRow_->setEnabled(LiveViewModel::libraryRowEnabled(selected));

    const auto& disk = integration_.disk();
    bundled_->setText(LiveViewModel::bundledText(disk));
    installed_->setText(LiveViewModel::installedText(disk));
    install_->setText(LiveViewModel::installButtonTitle(disk));
    install_->setEnabled(LiveViewModel::installEnabled(busy, disk, integration_.library(), selected));
    verify_->setEnabled(LiveViewModel::verifyEnabled(busy));
    openFolder_->setEnabled(LiveViewModel::openScriptFolderEnabled(disk));
    message_->setText(integration_.message().value_or(QString()));
    message_->setVisible(integration_.message().has_value());

    routeStatus_->setText(LiveViewModel::routeStatusText(store_.health.instrumentMidiLiveRouteStatus));
    reconnect_->setEnabled(LiveViewModel::reconnectEnabled(store_.canChange, store_.pendingActions.empty()));
}

}  // namespace norv
