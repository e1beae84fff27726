#include "ui/routes/routing_policy_draft.h"

namespace norv {

const std::array<RoutingPolicyDraft::StrategyChoice, 3>& RoutingPolicyDraft::strategyChoices() {
    static const std::array<StrategyChoice, 3> choices{{
        {QString::fromUtf8("All devices — All Ins"), QStringLiteral("all_ins")},
        {QStringLiteral("First assigned device"), QStringLiteral("first_assigned")},
        {QStringLiteral("Last assigned device"), QStringLiteral("last_assigned")},
    }};
    return choices;
}

DeviceRoutingPolicy RoutingPolicyDraft::runtimeOrDefault(const std::optional<DeviceRoutingPolicy>& runtime) {
    return runtime ? *runtime : DeviceRoutingPolicy::defaultPolicy();
}

void RoutingPolicyDraft::show(const std::optional<DeviceRoutingPolicy>& runtime) {
    draft_ = runtimeOrDefault(runtime);
    hasLocalChanges_ = false;
}

void RoutingPolicyDraft::runtimeChanged(const std::optional<DeviceRoutingPolicy>& runtime) {
    if (runtime && *runtime == draft_) hasLocalChanges_ = false;
    if (!hasLocalChanges_) draft_ = runtimeOrDefault(runtime);
}

void RoutingPolicyDraft::recompute(const std::optional<DeviceRoutingPolicy>& runtime) {
    hasLocalChanges_ = !(draft_ == runtimeOrDefault(runtime));
}

void RoutingPolicyDraft::setAutomaticRouting(bool enabled, const std::optional<DeviceRoutingPolicy>& runtime) {
    draft_.automaticDeviceRoutingEnabled = enabled;
    draft_.autoArmEnabled = enabled;
    draft_.autoInputRoutingEnabled = enabled;
    recompute(runtime);
}

void RoutingPolicyDraft::setSharedStrategy(const QString& strategy,
                                           const std::optional<DeviceRoutingPolicy>& runtime) {
    draft_.sharedInputStrategy = strategy.toStdString();
    recompute(runtime);
}

void RoutingPolicyDraft::reset(const std::optional<DeviceRoutingPolicy>& runtime) {
    draft_ = DeviceRoutingPolicy::defaultPolicy();
    recompute(runtime);
}

QString RoutingPolicyDraft::sharedRuleTitle() const {
    if (draft_.sharedInputStrategy == "first_assigned") return QStringLiteral("FIRST DEVICE KEEPS THE ROUTE");
    if (draft_.sharedInputStrategy == "last_assigned") return QStringLiteral("LAST DEVICE TAKES THE ROUTE");
    return QStringLiteral("ALL ASSIGNED DEVICES");
}

QString RoutingPolicyDraft::sharedRuleDetail() const {
    if (draft_.sharedInputStrategy == "first_assigned") return QStringLiteral("First assigned input");
    if (draft_.sharedInputStrategy == "last_assigned") return QStringLiteral("Last assigned input");
    return QStringLiteral("All Ins");
}

QString RoutingPolicyDraft::sharedRuleBadge() const {
    if (draft_.sharedInputStrategy == "first_assigned") return QStringLiteral("FIRST");
    if (draft_.sharedInputStrategy == "last_assigned") return QStringLiteral("LAST");
    return QStringLiteral("ALL INS");
}

QString RoutingPolicyDraft::strategyNote() const {
    return draft_.sharedInputStrategy == "all_ins" ? QStringLiteral("Includes other enabled MIDI inputs")
                                                   : QStringLiteral("Other devices: layer selection only");
}

QString RoutingPolicyDraft::automationDetail() const {
    return draft_.automaticDeviceRoutingEnabled ? QStringLiteral("Input + Arm")
                                                : QStringLiteral("Live I/O unchanged");
}

QString RoutingPolicyDraft::statusText() const {
    return hasLocalChanges_ ? QStringLiteral("Unapplied changes") : QStringLiteral("Policy applied");
}

QString RoutingPolicyDraft::statusSymbol() const {
    return hasLocalChanges_ ? QStringLiteral("circle.dashed") : QStringLiteral("checkmark.circle");
}

int RoutingPolicyDraft::strategyChoiceIndex() const {
    const QString value = QString::fromStdString(draft_.sharedInputStrategy);
    const auto& choices = strategyChoices();
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (choices[i].value == value) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace norv
