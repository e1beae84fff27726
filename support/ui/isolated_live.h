#pragma once
// A Live integration environment that reads and writes only under `root`: no installations, no
// running Live, the test's own settings and no runtime (every check reports the runtime
// unavailable). Pages built in tests use it so they never touch the user's settings or machine.

#include "live/live_integration.h"

#include <QDir>
#include <QSettings>

namespace norv::test {

inline LiveIntegration::Environment isolatedLiveEnvironment(const QString& root, QSettings* settings) {
    LiveIntegration::Environment environment;
    environment.home = root + QStringLiteral("/home");
    environment.applicationFolders = {root + QStringLiteral("/Applications")};
    environment.procRoot = root + QStringLiteral("/proc");
    environment.settings = settings;
    environment.runtime = [] { return RemoteScriptRuntime{}; };
    return environment;
}

}  // namespace norv::test
