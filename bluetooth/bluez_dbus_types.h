#pragma once

#include <QDBusObjectPath>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

namespace norv {

// The shapes of BlueZ's object tree: interface name to properties (a{sa{sv}}), and object path to
// those (a{oa{sa{sv}}}, the answer of GetManagedObjects).
using BluezInterfaces = QMap<QString, QVariantMap>;
using BluezManagedObjects = QMap<QDBusObjectPath, BluezInterfaces>;

// Makes both known to Qt D-Bus; safe to call any number of times.
void registerBluezDBusTypes();

}  // namespace norv
