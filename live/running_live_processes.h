#pragma once

#include <QString>

#include <sys/types.h>

#include <cstdint>
#include <vector>

namespace norv {

struct RunningLiveProcess {
    std::int32_t pid = 0;
    QString bundle;  // the ".app" folder the process runs from, or the Live ".exe" Wine runs

    bool operator==(const RunningLiveProcess&) const = default;
};

// Running Ableton Live applications, read from a /proc tree: a process belongs to the innermost
// ".app" folder on the path of its executable (or, failing that, of its first argument, a
// relative one taken from the process's working directory), and it counts when that folder's
// name begins with "Ableton Live" and the path is the bundle's main executable (helpers and
// other programs inside the bundle are not the application). Live for Windows counts when the
// first argument names an "Ableton Live*.exe" inside a Wine prefix: a Windows path, as Wine shows
// it, through the prefix the process's environment names (else the default one), or a path of
// this machine. Only processes of one user count.
class RunningLiveProcesses {
public:
    struct Source {
        QString procRoot;           // the /proc tree
        uid_t owner = 0;            // the user whose processes count
        QString defaultWinePrefix;  // Wine's prefix for a program whose environment names none
    };

    // Ascending process ids; processes that vanish or cannot be read while listing are skipped.
    static std::vector<RunningLiveProcess> list(const Source& source);

    // The innermost ".app" folder on `path`, without a trailing separator; empty when there is none.
    static QString bundleOf(const QString& path);
};

}  // namespace norv
