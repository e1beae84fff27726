#pragma once
// The Routes page's editable copy of the engine's device-routing policy. It follows the engine
// until the user edits it and keeps the edits until the engine reports the same policy.

#include "model/device_routing_policy.h"

#include <QString>
#include <array>
#include <optional>

namespace norv {

class RoutingPolicyDraft {
public:
    struct StrategyChoice {
        QString label;
        QString value;
    };
    static const std::array<StrategyChoice, 3>& strategyChoices();

    const DeviceRoutingPolicy& draft() const { return draft_; }
    bool hasLocalChanges() const { return hasLocalChanges_; }

    // The page is shown: start from the engine's policy (the defaults when it has none).
    void show(const std::optional<DeviceRoutingPolicy>& runtime);
    // The engine's policy changed to `runtime`; call only when the value differs from the last.
    void runtimeChanged(const std::optional<DeviceRoutingPolicy>& runtime);

    // Edits; each recomputes the local-changes flag against `runtime`.
    void setAutomaticRouting(bool enabled, const std::optional<DeviceRoutingPolicy>& runtime);
    void setSharedStrategy(const QString& strategy, const std::optional<DeviceRoutingPolicy>& runtime);
    void reset(const std::optional<DeviceRoutingPolicy>& runtime);

    // Texts of the shared-input rule and the footer.
    QString sharedRuleTitle() const;
    QString sharedRuleDetail() const;
    QString sharedRuleBadge() const;
    QString strategyNote() const;
    QString automationDetail() const;  // "Input + Arm" / "Live I/O unchanged"
    QString statusText() const;        // "Unapplied changes" / "Policy applied"
    QString statusSymbol() const;
    // Index into strategyChoices(), or -1 when the draft holds another value.
    int strategyChoiceIndex() const;

    // Enabling rules; `editable` is canChange with no admin request in flight.
    static bool editorEnabled(bool canChange, bool pendingEmpty) { return canChange && pendingEmpty; }
    bool strategyPickerEnabled(bool editable) const { return editable && draft_.automaticDeviceRoutingEnabled; }
    bool applyEnabled(bool editable) const { return editable && hasLocalChanges_; }

    static DeviceRoutingPolicy runtimeOrDefault(const std::optional<DeviceRoutingPolicy>& runtime);

private:
    void recompute(const std::optional<DeviceRoutingPolicy>& runtime);

    DeviceRoutingPolicy draft_ = DeviceRoutingPolicy::defaultPolicy();
    bool hasLocalChanges_ = false;
};

}  // namespace norv
