#pragma once
// Everything a device card derives from its device, the engine's access state and whether the
// store may send a change: texts, tint, which buttons it shows and which are enabled.

#include "model/admin_snapshot.h"
#include "model/device_access_action.h"

#include <QColor>
#include <QString>
#include <optional>
#include <string>
#include <vector>

namespace norv {

struct EndpointRowContent {
    QString id;
    QString title;
    QString symbol;
    QString name;

    bool operator==(const EndpointRowContent&) const = default;
};

class DeviceCardModel {
public:
    enum class Button { allowConnection, disconnect, archive, restore, revoke };

    static constexpr int nameLimit = 48;

    // `storeCanChange` and `nothingPending` come from the store; any request in flight
    // anywhere disables the card's actions.
    DeviceCardModel(const BridgeDevice& device, const std::optional<DeviceAccessSnapshot>& access,
                    bool storeCanChange, bool nothingPending);

    const BridgeDevice& device() const { return device_; }
    bool canChange() const { return canChange_; }
    std::optional<std::string> certificateFingerprint() const;
    QColor tint() const;
    QString subtitle() const;
    QString statusText() const;
    std::optional<QString> nameStatusLabel() const;

    // The buttons of the action row, in order; "Revoke access" is always last.
    std::vector<Button> actionButtons() const;
    static QString title(Button button);
    bool enabled(Button button) const;

    bool renameEnabled(const QString& draft) const;
    // "Use previous name: …" while the legacy name differs from the label.
    std::optional<QString> previousNameTitle() const;
    bool previousNameEnabled() const;

    std::vector<EndpointRowContent> endpointRows() const;
    QString versionLine() const;

    // The archive flag sent: true for "Archive", false for "Restore".
    bool archiveFlag() const;

    // The confirmation of disconnect or forget.
    static QString confirmationTitle(DeviceAccessAction action, const QString& label);
    static QString confirmationButton(DeviceAccessAction action);
    static QString confirmationMessage(DeviceAccessAction action);

    // The name with Unicode space separators and tabs removed from both ends.
    static QString trimmedName(const QString& name);

private:
    bool paused() const;

    BridgeDevice device_;
    std::optional<DeviceAccessSnapshot> access_;
    bool canChange_;
};

}  // namespace norv
