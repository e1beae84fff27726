#pragma once

#include <QString>

#include <optional>

namespace norv {

// One Ableton Live application bundle found on this machine.
struct LiveInstallation {
    QString url;                     // bundle path as found (folder listing, running process or stored path)
    QString name;                    // bundle file name without ".app"
    QString version;                 // numeric version, e.g. "12.1.5"
    std::optional<QString> library;  // User Library named by this version's Library.cfg

    // Selection, persistence and the page's picker use the bundle path.
    const QString& id() const { return url; }
    bool supported() const;

    bool operator==(const LiveInstallation&) const = default;
};

}  // namespace norv
