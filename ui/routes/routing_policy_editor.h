#pragma once
// The "AUTOMATION POLICY" panel of the Routes page: the automatic-routing switch, the shared
// track input picker and its rule, the status label and the Clear / Reset / Apply buttons. It
// owns the draft and the clear confirmation; the page passes the engine's policy in and turns
// the two requests into store actions.

#include "ui/routes/clear_confirmation.h"
#include "ui/routes/routing_policy_draft.h"

#include <QWidget>
#include <optional>

class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;

namespace norv {

class SymbolLabel;

class RoutingPolicyEditor : public QWidget {
    Q_OBJECT
public:
    explicit RoutingPolicyEditor(ClearConfirmation* confirmation, QWidget* parent = nullptr);

    // The page is shown with this engine policy: the draft starts from it.
    void startFrom(const std::optional<DeviceRoutingPolicy>& runtime, bool editable);
    // A new snapshot: `runtime` is the engine's policy now; `editable` is canChange with no
    // request in flight. The draft follows the engine only where the user has not edited.
    void followEngine(const std::optional<DeviceRoutingPolicy>& runtime, bool editable);

    const RoutingPolicyDraft& draft() const { return draft_; }
    QCheckBox* automaticSwitch() const { return automatic_; }
    QComboBox* strategyPicker() const { return strategy_; }
    QPushButton* applyButton() const { return apply_; }
    QPushButton* resetButton() const { return reset_; }
    QPushButton* clearButton() const { return clear_; }
    QLabel* statusLabel() const { return status_; }

Q_SIGNALS:
    void applyRequested(const DeviceRoutingPolicy& policy);
    void clearRequested();

private:
    QWidget* buildRule();
    QHBoxLayout* buildFooter();
    void refresh();

    RoutingPolicyDraft draft_;
    std::optional<DeviceRoutingPolicy> runtime_;
    bool editable_ = false;
    ClearConfirmation* confirmation_;
    QCheckBox* automatic_;
    QLabel* automaticDetail_;
    QComboBox* strategy_;
    QLabel* ruleTitle_;
    QLabel* ruleDetail_;
    QLabel* ruleNote_;
    QLabel* ruleBadge_;
    SymbolLabel* statusSymbol_;
    QLabel* status_;
    QPushButton* clear_;
    QPushButton* reset_;
    QPushButton* apply_;
};

}  // namespace norv
