#include "ui/routes/routing_policy_editor.h"

#include "ui/theme/norv_button_style.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace norv {

RoutingPolicyEditor::RoutingPolicyEditor(ClearConfirmation* confirmation, QWidget* parent)
    : QWidget(parent), confirmation_(confirmation) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(16);
    column->addWidget(
        makeLabel(QStringLiteral("AUTOMATION POLICY"), NorvTheme::sectionFont(), NorvTheme::secondary(), this));

    auto* toggleRow = new QHBoxLayout;
    toggleRow->setSpacing(12);
    automatic_ = new QCheckBox(this);
    automatic_->setAccessibleName(QStringLiteral("Automatic device routing"));
    toggleRow->addWidget(automatic_, 0, Qt::AlignTop);
    auto* toggleText = new QVBoxLayout;
    toggleText->setSpacing(3);
    auto* title = makeLabel(QStringLiteral("Automatic device routing"), NorvTheme::calloutFont(), NorvTheme::primary(),
                            this);
    QFont semibold = title->font();
    semibold.setWeight(QFont::DemiBold);
    title->setFont(semibold);
    toggleText->addWidget(title);
    automaticDetail_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), this);
    toggleText->addWidget(automaticDetail_);
    toggleRow->addLayout(toggleText);
    toggleRow->addStretch();
    column->addLayout(toggleRow);

    auto* divider = new QFrame(this);
    divider->setFixedHeight(1);
    fillBackground(divider, NorvTheme::stroke());
    column->addWidget(divider);

    auto* strategyRow = new QHBoxLayout;
    strategyRow->setSpacing(20);
    strategyRow->addWidget(makeLabel(QStringLiteral("SHARED TRACK INPUT"), NorvTheme::systemFont(10, QFont::Bold, true),
                                     NorvTheme::secondary(), this),
                           0, Qt::AlignTop);
    strategyRow->addStretch();
    strategy_ = new QComboBox(this);
    strategy_->setAccessibleName(QStringLiteral("Shared track input"));
    strategy_->setFixedWidth(220);
    for (const auto& choice : RoutingPolicyDraft::strategyChoices()) strategy_->addItem(choice.label, choice.value);
    strategyRow->addWidget(strategy_);
    column->addLayout(strategyRow);

    column->addWidget(buildRule());
    column->addLayout(buildFooter());

    // Only user actions reach these: refresh() blocks the controls' signals while it sets them.
    connect(automatic_, &QCheckBox::toggled, this, [this](bool on) {
        draft_.setAutomaticRouting(on, runtime_);
        refresh();
    });
    connect(strategy_, &QComboBox::activated, this, [this](int index) {
        draft_.setSharedStrategy(strategy_->itemData(index).toString(), runtime_);
        refresh();
    });
    connect(reset_, &QPushButton::clicked, this, [this] {
        draft_.reset(runtime_);
        refresh();
    });
    connect(apply_, &QPushButton::clicked, this, [this] { Q_EMIT applyRequested(draft_.draft()); });
    connect(clear_, &QPushButton::clicked, this, [this] {
        confirmation_->press([this] { Q_EMIT clearRequested(); });
    });
    connect(confirmation_, &ClearConfirmation::changed, this, &RoutingPolicyEditor::refresh);
}

// The box that states the rule in force.
QWidget* RoutingPolicyEditor::buildRule() {
    auto* rule = new QWidget(this);
    fillBackground(rule, NorvTheme::panelRaised());
    auto* ruleRow = new QHBoxLayout(rule);
    ruleRow->setContentsMargins(12, 12, 12, 12);
    ruleRow->setSpacing(12);
    ruleRow->addWidget(
        new SymbolLabel(QStringLiteral("point.3.filled.connected.trianglepath.dotted"), NorvTheme::violet(), 18, rule));
    auto* ruleText = new QVBoxLayout;
    ruleTitle_ = makeLabel(QString(), NorvTheme::systemFont(10, QFont::Bold, true), NorvTheme::violet(), rule);
    ruleDetail_ = makeLabel(QString(), NorvTheme::calloutFont(), NorvTheme::primary(), rule);
    ruleNote_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), rule);
    ruleText->addWidget(ruleTitle_);
    ruleText->addWidget(ruleDetail_);
    ruleText->addWidget(ruleNote_);
    ruleRow->addLayout(ruleText);
    ruleRow->addStretch();
    ruleBadge_ = makeLabel(QString(), NorvTheme::systemFont(10, QFont::Bold, true), NorvTheme::violet(), rule);
    ruleBadge_->setContentsMargins(10, 6, 10, 6);
    ruleBadge_->setStyleSheet(QStringLiteral("background: %1; color: %2;")
                                  .arg(NorvTheme::css(NorvTheme::violet(), 0.12), NorvTheme::css(NorvTheme::violet())));
    ruleRow->addWidget(ruleBadge_);
    return rule;
}

// The status line and Clear, Reset and Apply.
QHBoxLayout* RoutingPolicyEditor::buildFooter() {
    auto* footer = new QHBoxLayout;
    statusSymbol_ = new SymbolLabel(this);
    footer->addWidget(statusSymbol_);
    status_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::teal(), this);
    footer->addWidget(status_);
    footer->addStretch();
    clear_ = new QPushButton(this);
    NorvButtonStyle::apply(clear_, false, true);
    footer->addWidget(clear_);
    reset_ = new QPushButton(QStringLiteral("Reset"), this);
    NorvButtonStyle::apply(reset_, false);
    footer->addWidget(reset_);
    apply_ = new QPushButton(QStringLiteral("Apply"), this);
    NorvButtonStyle::apply(apply_, true);
    footer->addWidget(apply_);
    return footer;
}

void RoutingPolicyEditor::startFrom(const std::optional<DeviceRoutingPolicy>& runtime, bool editable) {
    runtime_ = runtime;
    editable_ = editable;
    draft_.show(runtime);
    refresh();
}

void RoutingPolicyEditor::followEngine(const std::optional<DeviceRoutingPolicy>& runtime, bool editable) {
    if (runtime != runtime_) {
        runtime_ = runtime;
        draft_.runtimeChanged(runtime);
    }
    editable_ = editable;
    refresh();
}

void RoutingPolicyEditor::refresh() {
    {
        const QSignalBlocker blockSwitch(automatic_);
        const QSignalBlocker blockPicker(strategy_);
        automatic_->setChecked(draft_.draft().automaticDeviceRoutingEnabled);
        strategy_->setCurrentIndex(draft_.strategyChoiceIndex());
    }
    automaticDetail_->setText(draft_.automationDetail());
    ruleTitle_->setText(draft_.sharedRuleTitle());
    ruleDetail_->setText(draft_.sharedRuleDetail());
    ruleNote_->setText(draft_.strategyNote());
    ruleBadge_->setText(draft_.sharedRuleBadge());
    const QColor statusColor = draft_.hasLocalChanges() ? NorvTheme::yellow() : NorvTheme::teal();
    statusSymbol_->setSymbol(draft_.statusSymbol(), statusColor, 12);
    status_->setText(draft_.statusText());
    const QString statusStyle = QStringLiteral("color: %1; font-weight: 600;").arg(NorvTheme::css(statusColor));
    if (status_->styleSheet() != statusStyle) status_->setStyleSheet(statusStyle);
    clear_->setText(confirmation_->title());

    automatic_->setEnabled(editable_);
    strategy_->setEnabled(draft_.strategyPickerEnabled(editable_));
    clear_->setEnabled(editable_);
    reset_->setEnabled(editable_);
    apply_->setEnabled(draft_.applyEnabled(editable_));
}

}  // namespace norv
