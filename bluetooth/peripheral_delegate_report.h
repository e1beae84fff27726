#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <memory>
#include <utility>

#include "bluetooth/bluetooth_peripheral_manager.h"

namespace norv {

// Sends a peripheral manager's report to its delegate on the event loop, as every platform
// delivers them: to the delegate the manager holds at delivery time (`delegate` is the manager's
// own field), and not at all once the manager is gone (`alive` has expired) or has no delegate.
template <typename Report>
void postDelegateReport(const std::shared_ptr<int>& alive,
                        BluetoothPeripheralManagerDelegate* const& delegate, Report report) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [alive = std::weak_ptr<int>(alive), &delegate, report = std::move(report)] {
            if (alive.expired() || !delegate) return;
            report(*delegate);
        },
        Qt::QueuedConnection);
}

}  // namespace norv
