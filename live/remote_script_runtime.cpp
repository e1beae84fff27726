#include "live/remote_script_runtime.h"

#include "core/bridge_runtime_files.h"
#include "core/resource_folder.h"

#include <QFileInfo>

namespace norv {

RemoteScriptRuntime RemoteScriptRuntime::installed() {
    RemoteScriptRuntime runtime;
    const QString resources = applicationResourceFolder();
    if (!QFileInfo(resources).isDir())
        return runtime;
    runtime.resourceFolder = resources;
    runtime.runtimeRoot = BridgeRuntimeFiles::shippedRoot(resources);
    if (runtime.runtimeRoot)
        runtime.interpreter = BridgeRuntimeFiles::interpreter(*runtime.runtimeRoot);
    return runtime;
}

}  // namespace norv
