#pragma once

#include <QString>

#include <sys/types.h>

#include <optional>

namespace norv {

// Whether the Remote Script may be installed into a User Library. The library, its "Remote
// Scripts" folder and the "NorvSession" script in that, where each exists (the engine's install
// makes the missing ones), must be this user's own and changeable by nobody else, and none may be
// a symbolic link: otherwise the script would be written where someone else chose, or could be
// replaced after it was written. The path is taken as it stands: the folders it passes through,
// Wine's drive links among them, lead to what is checked.
class ScriptInstallTarget {
public:
    // Why the install into `library` is refused for `user`, as the Live page shows it; nothing
    // when it may go ahead.
    static std::optional<QString> refusal(const QString& library, uid_t user);

    ScriptInstallTarget() = delete;
};

}  // namespace norv
