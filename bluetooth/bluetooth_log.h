#pragma once

#include <QLoggingCategory>

namespace norv {

// The Bluetooth transport's own lines, under the application's connection category.
Q_DECLARE_LOGGING_CATEGORY(bluetoothLog)

}  // namespace norv
