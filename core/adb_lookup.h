#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <optional>

namespace norv {

// Where the adb program handed to the engine for Android USB tunnels lives.
class AdbLookup {
public:
    // $NORV_ANDROID_ADB_PATH when set (even empty), then $HOME/Android/Sdk/platform-tools/adb
    // when HOME is set, then /usr/local/bin/adb and /usr/bin/adb.
    static QStringList candidates(const QProcessEnvironment& environment);
    // The first candidate that names an executable file.
    static std::optional<QString> find(
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

    AdbLookup() = delete;
};

}  // namespace norv
