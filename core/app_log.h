#pragma once

#include <QLoggingCategory>

// The application's system log: three categories under one subsystem id.
// Write with qCInfo(norv::AppLog::process, "...") and the like; safe from any thread.
namespace norv::AppLog {

inline constexpr const char* kSubsystem = "org.norv.session.bridge";

Q_DECLARE_LOGGING_CATEGORY(connection)
Q_DECLARE_LOGGING_CATEGORY(process)
Q_DECLARE_LOGGING_CATEGORY(routing)

}  // namespace norv::AppLog
