#pragma once

#include <QLoggingCategory>

// The application's system log: three categories under one subsystem id.
// Write with qCInfo(norv::AppLog::process, "...") and the like; safe from any thread.
// Levels follow Qt's own mapping onto the unified log: info is qCInfo, the default level is
// qCWarning and the error level is qCCritical.
namespace norv::AppLog {

inline constexpr const char* kSubsystem = "org.norv.session.bridge";

Q_DECLARE_LOGGING_CATEGORY(connection)
Q_DECLARE_LOGGING_CATEGORY(process)
Q_DECLARE_LOGGING_CATEGORY(routing)

// A Boolean as the log prints it: "true" or "false".
inline const char* boolean(bool value) { return value ? "true" : "false"; }

}  // namespace norv::AppLog
