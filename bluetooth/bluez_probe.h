#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "bluetooth/bluez_peripheral_backend.h"

namespace norv {

// Looks for BlueZ without ever blocking the caller's thread: connecting to the bus (which Qt does
// synchronously) happens on a worker thread, and the whole look is bounded. `done` runs once, on
// the caller's thread. Whenever the bus is reachable it gets a backend, which follows BlueZ and
// its adapters from then on, with why BlueZ cannot serve yet (empty when it can) once BlueZ has
// first answered or the bound has passed; without a bus it gets no backend and the reason.
// Nothing runs once `context` is gone.
//
// `address` empty means the system bus (DBUS_SYSTEM_BUS_ADDRESS when set, as libdbus reads it).
void probeBluez(
    QObject* context, BluezPeripheralBackend::Options options, int boundMs,
    std::function<void(std::shared_ptr<BluezPeripheralBackend> backend, const QString& reason)>
        done,
    const QString& address = {});

}  // namespace norv
