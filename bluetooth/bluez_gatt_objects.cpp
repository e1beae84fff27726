#include "bluetooth/bluez_gatt_objects.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <algorithm>

#include "bluetooth/bluez_dbus_types.h"

namespace norv {

namespace {

const QString serviceInterface = QStringLiteral("org.bluez.GattService1");
const QString characteristicInterface = QStringLiteral("org.bluez.GattCharacteristic1");
const QString advertisementInterface = QStringLiteral("org.bluez.LEAdvertisement1");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString objectManagerInterface = QStringLiteral("org.freedesktop.DBus.ObjectManager");

QString lower(const std::string& uuid) { return QString::fromStdString(uuid).toLower(); }

}  // namespace

BluezGattObjects::BluezGattObjects(QString basePath, QObject* parent)
    : QDBusVirtualObject(parent), base_(std::move(basePath)) {
    registerBluezDBusTypes();
}

void BluezGattObjects::setAdvertisement(const std::vector<std::string>& serviceUuids,
                                        const std::string& localName) {
    advertised_ = true;
    advertisedUuids_.clear();
    for (const auto& uuid : serviceUuids) advertisedUuids_ << lower(uuid);
    localName_ = advertisedName(localName);
}

QString BluezGattObjects::advertisedName(const std::string& name) {
    std::size_t length = std::min(name.size(), localNameLimit);
    // Back off over continuation bytes (10xxxxxx) to the start of the character the cut falls in.
    if (length < name.size()) {
        while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
    }
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(length));
}

QString BluezGattObjects::characteristicPath(std::size_t index) const {
    return servicePath() + QStringLiteral("/char%1").arg(index);
}

std::optional<std::size_t> BluezGattObjects::characteristicAt(const QString& path) const {
    if (!service_) return std::nullopt;
    for (std::size_t i = 0; i < service_->characteristics.size(); ++i) {
        if (path == characteristicPath(i)) return i;
    }
    return std::nullopt;
}

std::optional<std::pair<QString, QVariantMap>> BluezGattObjects::objectAt(
    const QString& path) const {
    if (service_ && path == servicePath()) {
        return std::pair{serviceInterface,
                         QVariantMap{{QStringLiteral("UUID"), lower(service_->uuid)},
                                     {QStringLiteral("Primary"), service_->primary}}};
    }
    if (const auto index = characteristicAt(path)) {
        const auto& characteristic = service_->characteristics[*index];
        QStringList flags{QStringLiteral("read")};
        if (characteristic.encryptionRequired) flags << QStringLiteral("encrypt-read");
        return std::pair{characteristicInterface,
                         QVariantMap{{QStringLiteral("UUID"), lower(characteristic.uuid)},
                                     {QStringLiteral("Service"),
                                      QVariant::fromValue(QDBusObjectPath(servicePath()))},
                                     {QStringLiteral("Flags"), flags}}};
    }
    if (advertised_ && path == advertisementPath()) {
        return std::pair{advertisementInterface,
                         QVariantMap{{QStringLiteral("Type"), QStringLiteral("peripheral")},
                                     // Without it BlueZ writes no Flags field on an adapter that
                                     // is not discoverable itself, and scanning centrals skip us.
                                     {QStringLiteral("Discoverable"), true},
                                     {QStringLiteral("ServiceUUIDs"), advertisedUuids_},
                                     {QStringLiteral("LocalName"), localName_}}};
    }
    return std::nullopt;
}

BluezManagedObjects BluezGattObjects::managedObjects() const {
    BluezManagedObjects objects;
    if (!service_) return objects;
    QStringList paths{servicePath()};
    for (std::size_t i = 0; i < service_->characteristics.size(); ++i)
        paths << characteristicPath(i);
    for (const QString& path : paths) {
        const auto object = objectAt(path);
        objects[QDBusObjectPath(path)] = {{object->first, object->second}};
    }
    return objects;
}

QString BluezGattObjects::errorName(int attResult) {
    // BlueZ answers the central with the ATT code it maps the error name to: org.bluez.Error.Failed
    // is an application error (0x80-0x9f, named in its message), and a name it does not know
    // is an Unlikely Error (0x0e).
    switch (attResult) {
        case 0x00:
            return {};
        case 0x06:
            return QStringLiteral("org.bluez.Error.NotSupported");
        case 0x07:
            return QStringLiteral("org.bluez.Error.InvalidOffset");
        case 0x08:
            return QStringLiteral("org.bluez.Error.NotAuthorized");
        case 0x0D:
            return QStringLiteral("org.bluez.Error.InvalidValueLength");
        default:
            if (attResult >= 0x80 && attResult <= 0x9F) return QStringLiteral("org.bluez.Error.Failed");
            return QStringLiteral("org.freedesktop.DBus.Error.Failed");
    }
}

bool BluezGattObjects::handleMessage(const QDBusMessage& message,
                                     const QDBusConnection& connection) {
    if (message.type() != QDBusMessage::MethodCallMessage) return false;
    const QString path = message.path();
    const QString interface = message.interface();
    const QString member = message.member();
    QDBusMessage reply;
    if (interface == objectManagerInterface && member == QLatin1String("GetManagedObjects") &&
        path == base_) {
        reply = message.createReply(QVariant::fromValue(managedObjects()));
    } else if (interface == propertiesInterface) {
        reply = properties(message);
    } else if (const auto index = characteristicAt(path); index &&
                                                          interface == characteristicInterface &&
                                                          member == QLatin1String("ReadValue")) {
        reply = read(message, *index);
    } else if (interface == advertisementInterface && member == QLatin1String("Release") &&
               path == advertisementPath()) {
        advertised_ = false;
        if (message.isReplyRequired()) connection.send(message.createReply());
        if (onRelease) onRelease();
        return true;
    } else {
        reply = message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                         QStringLiteral("No such method"));
    }
    connection.send(reply);
    return true;
}

QDBusMessage BluezGattObjects::properties(const QDBusMessage& message) const {
    const auto object = objectAt(message.path());
    const QList<QVariant> arguments = message.arguments();
    const QString interface = arguments.value(0).toString();
    if (!object || object->first != interface) {
        return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                        QStringLiteral("No such interface"));
    }
    if (message.member() == QLatin1String("GetAll")) return message.createReply(object->second);
    if (message.member() == QLatin1String("Get")) {
        const auto it = object->second.find(arguments.value(1).toString());
        if (it == object->second.end()) {
            return message.createErrorReply(
                QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                QStringLiteral("No such property"));
        }
        return message.createReply(QVariant::fromValue(QDBusVariant(*it)));
    }
    return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly"),
                                    QStringLiteral("Properties are read-only"));
}

QDBusMessage BluezGattObjects::read(const QDBusMessage& message, std::size_t characteristic) {
    const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().value(0));
    const long offset = options.value(QStringLiteral("offset"), 0).toLongLong();
    const auto [result, value] =
        onRead ? onRead(service_->characteristics[characteristic].uuid, offset)
               : std::pair{0x0E, QByteArray()};
    if (result != 0)
        return message.createErrorReply(
            errorName(result), QStringLiteral("0x%1").arg(result, 2, 16, QLatin1Char('0')));
    return message.createReply(value);
}

QString BluezGattObjects::introspect(const QString& path) const {
    const auto method = [](const char* name, const char* in, const char* out) {
        QString xml = QStringLiteral("<method name=\"%1\">").arg(QLatin1String(name));
        if (*in)
            xml += QStringLiteral("<arg direction=\"in\" type=\"%1\"/>").arg(QLatin1String(in));
        if (*out)
            xml += QStringLiteral("<arg direction=\"out\" type=\"%1\"/>").arg(QLatin1String(out));
        return xml + QStringLiteral("</method>");
    };
    if (path == base_) {
        return QStringLiteral("<interface name=\"%1\">%2</interface>")
            .arg(objectManagerInterface, method("GetManagedObjects", "", "a{oa{sa{sv}}}"));
    }
    const auto object = objectAt(path);
    if (!object) return {};
    QString methods;
    if (object->first == characteristicInterface) methods = method("ReadValue", "a{sv}", "ay");
    if (object->first == advertisementInterface) methods = method("Release", "", "");
    return QStringLiteral("<interface name=\"%1\">%2</interface>").arg(object->first, methods);
}

}  // namespace norv
