#include "live/remote_script_runtime.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

namespace norv {

RemoteScriptRuntime RemoteScriptRuntime::installed() {
    RemoteScriptRuntime runtime;
    const QString resources = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/norv-bridge"));
    if (QFileInfo(resources).isDir())
        runtime.resourceFolder = resources;
    else
        return runtime;
    const QString root = resources + QStringLiteral("/BridgeRuntime");
    if (!QFileInfo::exists(root + QStringLiteral("/tools/run_bridge.py")))
        return runtime;
    runtime.runtimeRoot = root;
    const QString interpreter =
        root + QStringLiteral("/PythonRuntime/") + QSysInfo::currentCpuArchitecture() + QStringLiteral("/bin/python3.13");
    const QFileInfo info(interpreter);
    if (info.isFile() && info.isExecutable())
        runtime.interpreter = interpreter;
    return runtime;
}

}  // namespace norv
