#include "app/single_instance.h"

#include <QGuiApplication>

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace norv {

namespace {

constexpr auto kInterface = "org.freedesktop.Application";
constexpr auto kTokenKey = "activation-token";
constexpr auto kStartupIdKey = "desktop-startup-id";
// Tokens are short printable words; anything else on the bus is not a token.
constexpr qsizetype kMaxTokenLength = 4096;

bool usableToken(const QString& token) {
    if (token.isEmpty() || token.size() > kMaxTokenLength) return false;
    for (const QChar c : token)
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7f) return false;
    return true;
}

}  // namespace

SingleInstance::SingleInstance(QDBusConnection bus, QString service, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), service_(std::move(service)) {}

SingleInstance::~SingleInstance() {
    if (ownsName_) bus_.unregisterService(service_);
    if (registeredObject_) bus_.unregisterObject(QString::fromLatin1(objectPath));
}

SingleInstance::Claim SingleInstance::claim(const QVariantMap& platformData, std::chrono::milliseconds bound) {
    if (!bus_.isConnected()) return {Role::noBus, {}};
    // The object is served before the name is taken, so a launch that finds the name finds Activate.
    if (!registeredObject_)
        registeredObject_ = bus_.registerObject(QString::fromLatin1(objectPath), this, QDBusConnection::ExportScriptableSlots);
    if (!registeredObject_) return {Role::noBus, {}};
    QString error;
    // A first instance that ends between our request and our call leaves the name free: one more try.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (bus_.registerService(service_)) {
            ownsName_ = true;
            return {Role::first, {}};
        }
        QDBusMessage call = QDBusMessage::createMethodCall(service_, QString::fromLatin1(objectPath),
                                                           QString::fromLatin1(kInterface), QStringLiteral("Activate"));
        call << platformData;
        const QDBusMessage reply = bus_.call(call, QDBus::Block, int(bound.count()));
        if (reply.type() == QDBusMessage::ReplyMessage) return {Role::handedOver, {}};
        error = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
        if (reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") &&
            reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
            break;
    }
    return {Role::noAnswer, error};
}

QVariantMap SingleInstance::launchPlatformData() {
    QVariantMap data;
    if (const QString token = qEnvironmentVariable("XDG_ACTIVATION_TOKEN"); usableToken(token))
        data.insert(QLatin1String(kTokenKey), token);
    if (const QString id = qEnvironmentVariable("DESKTOP_STARTUP_ID"); usableToken(id))
        data.insert(QLatin1String(kStartupIdKey), id);
    return data;
}

QString SingleInstance::activationToken(const QVariantMap& platformData) {
    // A launch may carry both: on X11 the startup id is the one the window manager reads.
    const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb");
    for (const char* key : {x11 ? kStartupIdKey : kTokenKey, x11 ? kTokenKey : kStartupIdKey}) {
        const QVariant value = platformData.value(QLatin1String(key));
        if (value.typeId() == QMetaType::QString && usableToken(value.toString())) return value.toString();
    }
    return {};
}

void SingleInstance::Activate(const QVariantMap& platformData) {
    Q_EMIT activated(activationToken(platformData));
}

}  // namespace norv
