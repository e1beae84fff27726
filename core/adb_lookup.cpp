#include "core/adb_lookup.h"

#include <QFileInfo>

namespace norv {

QStringList AdbLookup::candidates(const QProcessEnvironment& environment) {
    const QString variable = QStringLiteral("NORV_ANDROID_ADB_PATH");
    QStringList candidates;
    if (environment.contains(variable)) candidates << environment.value(variable);
    const QString home = environment.value(QStringLiteral("HOME"));
    if (!home.isEmpty()) candidates << home + QStringLiteral("/Android/Sdk/platform-tools/adb");
    candidates << QStringLiteral("/usr/local/bin/adb") << QStringLiteral("/usr/bin/adb");
    return candidates;
}

std::optional<QString> AdbLookup::find(const QProcessEnvironment& environment) {
    for (const QString& candidate : candidates(environment)) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable()) return candidate;
    }
    return std::nullopt;
}

}  // namespace norv
