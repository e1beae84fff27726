#include "ui/diagnostics/diagnostics_page.h"

#include "core/dialog_service.h"
#include "ui/components/save_panel_path.h"
#include "ui/diagnostics/diagnostics_log_view.h"
#include "ui/diagnostics/diagnostics_view_model.h"
#include "ui/diagnostics/pending_pairing_requests_model.h"
#include "ui/theme/norv_field_style.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace norv {

using Model = DiagnosticsViewModel;

DiagnosticsPage::DiagnosticsPage(Actions actions, QWidget* parent)
    : PageFrame(parent, Height::fill), actions_(std::move(actions)), timer_(new QTimer(this)) {
    setObjectName(QStringLiteral("page_logs"));
    QWidget* page = content();
    QVBoxLayout* column = this->column();

    auto* header = new QHBoxLayout;
    header->addWidget(new PageHeader(QStringLiteral("SUPPORT"), QStringLiteral("Diagnostics"),
                                     QString::fromUtf8("Local journal · 3 MB maximum"), page),
                      1, Qt::AlignTop);
    export_ = new QPushButton(page);
    header->addWidget(export_, 0, Qt::AlignTop);
    column->addLayout(header);

    buildIdentities(page, column);

    auto* controls = new QHBoxLayout;
    controls->setSpacing(12);
    search_ = new QLineEdit(page);
    search_->setPlaceholderText(QStringLiteral("Search logs"));
    search_->setAccessibleName(QStringLiteral("Search logs"));
    NorvFieldStyle::apply(search_);
    controls->addWidget(search_, 1);
    level_ = new QComboBox(page);
    level_->setAccessibleName(QStringLiteral("Level"));
    level_->setFixedWidth(190);
    for (const QString& name : Model::levels()) level_->addItem(name);
    controls->addWidget(level_);
    pause_ = new QPushButton(page);
    controls->addWidget(pause_);
    follow_ = new QCheckBox(QStringLiteral("Follow"), page);
    follow_->setChecked(true);
    controls->addWidget(follow_);
    column->addLayout(controls);

    auto* captureRow = new QHBoxLayout;
    capture_ = new QPushButton(page);
    captureRow->addWidget(capture_);
    captureStatus_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), page);
    captureRow->addWidget(captureStatus_);
    captureRow->addStretch();
    count_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), page);
    captureRow->addWidget(count_);
    column->addLayout(captureRow);

    log_ = new DiagnosticsLogView(page);
    column->addWidget(log_, 1);

    buildFooter(page, column);

    connect(search_, &QLineEdit::textChanged, this, [this] { refresh(false); });
    connect(level_, &QComboBox::currentIndexChanged, this, [this] { refresh(false); });
    connect(pause_, &QPushButton::clicked, this, [this] {
        paused_ = !paused_;
        if (!paused_ && actions_.refreshLogs) actions_.refreshLogs();
        refresh(false);
    });
    connect(capture_, &QPushButton::clicked, this, [this] {
        if (actions_.setDetailedCapture) {
            actions_.setDetailedCapture(Model::captureStartArgument(Model::detailSeconds(state_.snapshot.diagnostics)));
        }
    });
    connect(export_, &QPushButton::clicked, this, &DiagnosticsPage::exportArchive);
    timer_->setInterval(kRefreshInterval);
    connect(timer_, &QTimer::timeout, this, &DiagnosticsPage::tick);
    refresh(false);
}

// "Connection identities", closed at first: the fingerprint and the pending pairing requests.
void DiagnosticsPage::buildIdentities(QWidget* page, QVBoxLayout* column) {
    auto* disclosure = new QToolButton(page);
    disclosure->setText(QStringLiteral("Connection identities"));
    disclosure->setCheckable(true);
    disclosure->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    disclosure->setArrowType(Qt::RightArrow);
    disclosure->setAutoRaise(true);
    column->addWidget(disclosure);
    auto* identities = new QWidget(page);
    auto* identitiesColumn = new QVBoxLayout(identities);
    identitiesColumn->setContentsMargins(16, 0, 0, 0);
    identitiesColumn->setSpacing(12);
    fingerprintLabel_ = makeLabel(QString(), NorvTheme::systemFont(11, QFont::Normal, true), NorvTheme::primary(),
                                  identities);
    fingerprintLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    identitiesColumn->addWidget(fingerprintLabel_);
    pairingRequests_ = new PendingPairingRequestsPanel(actions_.pairing, identities);
    identitiesColumn->addWidget(pairingRequests_);
    identities->setVisible(false);
    column->addWidget(identities);
    connect(disclosure, &QToolButton::toggled, this, [disclosure, identities](bool open) {
        disclosure->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        identities->setVisible(open);
    });
}

void DiagnosticsPage::buildFooter(QWidget* page, QVBoxLayout* column) {
    auto* footer = new QHBoxLayout;
    footer_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), page);
    footer->addWidget(footer_);
    savedTo_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), page);
    savedTo_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    footer->addWidget(savedTo_);
    footer->addStretch();
    dropped_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), page);
    footer->addWidget(dropped_);
    storage_ = makeLabel(QStringLiteral("Log storage unavailable"), NorvTheme::captionFont(), NorvTheme::red(), page);
    footer->addWidget(storage_);
    column->addLayout(footer);
}

void DiagnosticsPage::setRefreshInterval(std::chrono::milliseconds interval) { timer_->setInterval(interval); }

void DiagnosticsPage::start() {
    if (actions_.refreshLogs) actions_.refreshLogs();
    timer_->start();
}

void DiagnosticsPage::tick() {
    if (!paused_ && actions_.refreshLogs) actions_.refreshLogs();
}

void DiagnosticsPage::setState(const State& state) {
    const bool linesChanged = state.logLines != state_.logLines;
    state_ = state;
    pairingRequests_->setRows(
        PendingPairingRequestsModel::rows(state.snapshot, state.canChange, state.pendingActions.empty()));
    refresh(linesChanged);
}

void DiagnosticsPage::refresh(bool linesChanged) {
    export_->setText(Model::exportButtonTitle(exporting_));
    export_->setEnabled(!exporting_);
    fingerprintLabel_->setText(state_.fingerprint ? Model::fingerprintText(*state_.fingerprint) : QString());
    fingerprintLabel_->setVisible(state_.fingerprint.has_value());
    pause_->setText(Model::pauseButtonTitle(paused_));

    const qint64 seconds = Model::detailSeconds(state_.snapshot.diagnostics);
    capture_->setText(Model::captureButtonTitle(seconds));
    capture_->setEnabled(state_.canChange);
    captureStatus_->setText(Model::captureStatusText(seconds));

    const QStringList rows = Model::rows(state_.logLines, search_->text(), level_->currentText());
    count_->setText(Model::countText(rows.size(), paused_));
    log_->setRows(rows, search_->text());
    if (linesChanged && follow_->isChecked() && !paused_) log_->scrollToEnd();

    footer_->setText(Model::footerText(exportResult_));
    savedTo_->setText(exportedTo_.isEmpty() ? QString() : savedToText(exportedTo_));
    savedTo_->setVisible(!exportedTo_.isEmpty());
    const auto dropped = Model::droppedText(state_.snapshot.diagnostics);
    dropped_->setText(dropped.value_or(QString()));
    dropped_->setVisible(dropped.has_value());
    storage_->setVisible(Model::storageUnavailable(state_.snapshot.diagnostics));
}

void DiagnosticsPage::exportArchive() {
    FilePanelRequest request;
    request.directory = saveFolder();
    request.proposedName = Model::exportFileName(actions_.now ? actions_.now() : QDateTime::currentDateTimeUtc());
    request.nameFilters = {QStringLiteral("Zip archives (*.zip)")};
    request.defaultSuffix = QStringLiteral("zip");
    if (actions_.dialogs == nullptr) return;
    const auto chosen = actions_.dialogs->choosePathToSave(request);
    if (!chosen || chosen->isEmpty() || !actions_.exportDiagnostics) return;
    const QString path = withFileExtension(*chosen, QStringLiteral(".zip"));
    exporting_ = true;
    exportResult_.clear();
    exportedTo_.clear();
    refresh(false);
    // The exporter may answer after the page is gone.
    QPointer<DiagnosticsPage> self(this);
    actions_.exportDiagnostics(path, [self, path](std::optional<QString> error) {
        if (!self) return;
        self->exportResult_ = error ? *error : QStringLiteral("Diagnostics exported");
        if (!error) self->exportedTo_ = path;
        self->exporting_ = false;
        self->refresh(false);
    });
}

}  // namespace norv
