#pragma once

#include <QString>

#include <optional>

namespace norv {

// Where the Remote Script tool and its inputs live for one run; looked up afresh for every run.
struct RemoteScriptRuntime {
    std::optional<QString> resourceFolder;  // the application's resource folder
    std::optional<QString> runtimeRoot;     // the read-only engine runtime in the resources
    std::optional<QString> interpreter;     // that runtime's interpreter

    // The application's own resource folder, the shipped runtime inside it and its interpreter.
    static RemoteScriptRuntime installed();
};

}  // namespace norv
