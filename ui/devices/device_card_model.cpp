#include "ui/devices/device_card_model.h"

#include "model/text_rules.h"
#include "ui/theme/norv_theme.h"

#include <algorithm>
#include <set>

namespace norv {

namespace {

QString text(const std::string& value) { return QString::fromStdString(value); }

bool isNameSpace(QChar c) { return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space; }

}  // namespace

DeviceCardModel::DeviceCardModel(const BridgeDevice& device, const std::optional<DeviceAccessSnapshot>& access,
                                 bool storeCanChange, bool nothingPending)
    : device_(device), access_(access), canChange_(storeCanChange && nothingPending) {}

bool DeviceCardModel::paused() const { return device_.accessState == "paused"; }

std::optional<std::string> DeviceCardModel::certificateFingerprint() const {
    if (!access_ || !access_->certificates) return std::nullopt;
    const auto found = access_->certificates->find(device_.deviceId);
    if (found == access_->certificates->end()) return std::nullopt;
    return found->second;
}

QColor DeviceCardModel::tint() const { return device_.connected ? NorvTheme::teal() : NorvTheme::secondary(); }

QString DeviceCardModel::subtitle() const {
    return device_.model.empty() ? text(text_rules::uppercased(device_.platform)) : text(device_.model);
}

QString DeviceCardModel::statusText() const {
    return paused() ? QStringLiteral("DISCONNECTED") : text(device_.transportLabel());
}

std::optional<QString> DeviceCardModel::nameStatusLabel() const {
    if (!device_.nameStatus) return std::nullopt;
    const std::string& status = *device_.nameStatus;
    if (status == "confirm_on_tablet") return QStringLiteral("Confirm on tablet");
    if (status == "connect_tablet") return QStringLiteral("Connect tablet to rename");
    if (status == "not_confirmed") return QStringLiteral("Rename not confirmed");
    if (status == "pending" || status == "unavailable") return QStringLiteral("My Norv sync pending");
    if (status == "conflict") return QStringLiteral("My Norv name changed");
    return std::nullopt;
}

std::vector<DeviceCardModel::Button> DeviceCardModel::actionButtons() const {
    std::vector<Button> buttons;
    if (paused()) buttons.push_back(Button::allowConnection);
    else if (device_.connected) buttons.push_back(Button::disconnect);
    if (!device_.connected) buttons.push_back(device_.archived.value_or(false) ? Button::restore : Button::archive);
    buttons.push_back(Button::revoke);
    return buttons;
}

QString DeviceCardModel::title(Button button) {
    switch (button) {
    case Button::allowConnection: return QStringLiteral("Allow connection");
    case Button::disconnect: return QStringLiteral("Disconnect");
    case Button::archive: return QStringLiteral("Archive");
    case Button::restore: return QStringLiteral("Restore");
    case Button::revoke: return QStringLiteral("Revoke access");
    }
    return {};
}

bool DeviceCardModel::enabled(Button button) const {
    if (!canChange_) return false;
    if (button == Button::allowConnection && access_ && access_->requireCertificate.value_or(false))
        return certificateFingerprint().has_value();
    return true;
}

QString DeviceCardModel::trimmedName(const QString& name) {
    qsizetype start = 0;
    qsizetype end = name.size();
    while (start < end && isNameSpace(name.at(start))) ++start;
    while (end > start && isNameSpace(name.at(end - 1))) --end;
    return name.mid(start, end - start);
}

bool DeviceCardModel::renameEnabled(const QString& draft) const {
    if (!canChange_) return false;
    if (trimmedName(draft).isEmpty()) return false;
    if (draft.toUcs4().size() > nameLimit) return false;
    if (draft.normalized(QString::NormalizationForm_C) == text(device_.label).normalized(QString::NormalizationForm_C))
        return false;
    if (device_.nameStatus == "confirm_on_tablet") return false;
    const auto& caps = device_.capabilities;
    return device_.connected || std::find(caps.begin(), caps.end(), "device_name_v1") == caps.end();
}

std::optional<QString> DeviceCardModel::previousNameTitle() const {
    if (!device_.legacyName || *device_.legacyName == device_.label) return std::nullopt;
    return QStringLiteral("Use previous name: ") + text(*device_.legacyName);
}

bool DeviceCardModel::previousNameEnabled() const {
    return canChange_ && device_.connected && device_.nameStatus != "confirm_on_tablet";
}

std::vector<EndpointRowContent> DeviceCardModel::endpointRows() const {
    std::vector<const MidiEndpoint*> physical;
    std::set<std::int64_t> seen;
    for (const MidiEndpoint& endpoint : device_.endpoints)
        if (seen.insert(endpoint.sourceUniqueId).second) physical.push_back(&endpoint);
    const bool shared = physical.size() < device_.endpoints.size();
    std::vector<EndpointRowContent> rows;
    for (const MidiEndpoint* endpoint : physical) {
        const bool surface = endpoint->role == "surface";
        const QString title = shared    ? QStringLiteral("PLAY + SURFACE")
                              : surface ? QStringLiteral("MIDI Surface")
                                        : QStringLiteral("Instrument");
        rows.push_back({text(endpoint->id()), title,
                        surface ? QStringLiteral("slider.horizontal.3") : QStringLiteral("pianokey"),
                        text(endpoint->name)});
    }
    return rows;
}

QString DeviceCardModel::versionLine() const {
    return QStringLiteral("App ") + text(device_.appVersion) + QStringLiteral(" · Protocol ") +
           text(device_.protocolVersion);
}

bool DeviceCardModel::archiveFlag() const { return !device_.archived.value_or(false); }

QString DeviceCardModel::confirmationTitle(DeviceAccessAction action, const QString& label) {
    return action == DeviceAccessAction::forget ? QStringLiteral("Revoke access for ") + label + QLatin1Char('?')
                                                : QStringLiteral("Disconnect ") + label + QLatin1Char('?');
}

QString DeviceCardModel::confirmationButton(DeviceAccessAction action) {
    return action == DeviceAccessAction::forget ? QStringLiteral("Revoke access") : QStringLiteral("Disconnect");
}

QString DeviceCardModel::confirmationMessage(DeviceAccessAction action) {
    return action == DeviceAccessAction::forget
               ? QStringLiteral("Assignments and pairing will be removed. Device name and model will be kept. Access "
                                "stays revoked until you choose Allow pairing or Clean devices on this Bridge.")
               : QStringLiteral("Playing notes will stop. Reconnection requires approval.");
}

}  // namespace norv
