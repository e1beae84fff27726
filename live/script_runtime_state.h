#pragma once

#include <QString>

namespace norv {

// The Remote Script status line of the Live page.
struct ScriptRuntimeState {
    QString title;
    QString detail;       // may be empty
    bool active = false;  // the current script is loaded and talking to the engine

    bool operator==(const ScriptRuntimeState&) const = default;
};

}  // namespace norv
