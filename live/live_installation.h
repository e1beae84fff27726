#pragma once

#include <QString>

#include <optional>

namespace norv {

// One Ableton Live found on this machine: an application bundle, or Live for Windows' executable
// inside a Wine prefix.
struct LiveInstallation {
    QString url;                     // bundle or executable as found (listing, process or stored path)
    QString name;                    // file name without ".app" or ".exe"
    QString version;                 // numeric version, e.g. "12.1.5"
    std::optional<QString> library;  // User Library this version's preferences name

    // Selection, persistence and the page's picker use the path.
    const QString& id() const { return url; }
    bool supported() const;

    bool operator==(const LiveInstallation&) const = default;
};

}  // namespace norv
