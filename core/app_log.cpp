#include "core/app_log.h"

// Debug lines (state machine transitions) are off unless QT_LOGGING_RULES turns them on.
namespace norv::AppLog {

Q_LOGGING_CATEGORY(connection, "org.norv.session.bridge.Connection", QtInfoMsg)
Q_LOGGING_CATEGORY(process, "org.norv.session.bridge.Process", QtInfoMsg)
Q_LOGGING_CATEGORY(routing, "org.norv.session.bridge.Routing", QtInfoMsg)

}  // namespace norv::AppLog
