#include "core/app_log.h"

namespace norv::AppLog {

Q_LOGGING_CATEGORY(connection, "org.norv.session.bridge.Connection")
Q_LOGGING_CATEGORY(process, "org.norv.session.bridge.Process")
Q_LOGGING_CATEGORY(routing, "org.norv.session.bridge.Routing")

}  // namespace norv::AppLog
