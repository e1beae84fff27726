#include "bluetooth/bluez_dbus_types.h"

#include <QDBusMetaType>
#include <mutex>

namespace norv {

void registerBluezDBusTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        qDBusRegisterMetaType<BluezInterfaces>();
        qDBusRegisterMetaType<BluezManagedObjects>();
    });
}

}  // namespace norv
