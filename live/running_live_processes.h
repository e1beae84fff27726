#pragma once

#include <QString>

#include <cstdint>
#include <vector>

namespace norv {

struct RunningLiveProcess {
    std::int32_t pid = 0;
    QString bundle;  // the ".app" folder the process runs from

    bool operator==(const RunningLiveProcess&) const = default;
};

// Running Ableton Live applications, read from a /proc tree: a process belongs to the innermost
// ".app" folder on the path of its executable (or, failing that, of its first argument, a
// relative one taken from the process's working directory), and it counts when that folder's
// name begins with "Ableton Live" and the path is the bundle's main executable (helpers and
// other programs inside the bundle are not the application).
class RunningLiveProcesses {
public:
    // Ascending process ids; processes that vanish or cannot be read while listing are skipped.
    static std::vector<RunningLiveProcess> list(const QString& procRoot);

    // The innermost ".app" folder on `path`, without a trailing separator; empty when there is none.
    static QString bundleOf(const QString& path);
};

}  // namespace norv
