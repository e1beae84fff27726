#pragma once
// One application per user session. The first launch owns the name "org.norv.NorvBridge" on the
// session bus (the user's own bus: no other user can take the name or call it) and serves
// org.freedesktop.Application's Activate at "/org/norv/NorvBridge"; a later launch calls it with
// the activation token it was started with and ends.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <chrono>

namespace norv {

class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    static constexpr auto serviceName = "org.norv.NorvBridge";
    static constexpr auto objectPath = "/org/norv/NorvBridge";

    enum class Role {
        first,       // this process owns the name and serves Activate
        handedOver,  // the first instance answered: this launch ends with status 0
        noAnswer,    // another instance owns the name but did not answer: `error` says how
        noBus,       // no session bus: nothing can be handed over, this process runs alone
    };
    struct Claim {
        Role role = Role::noBus;
        QString error;
    };

    // `service` is the bus name to own; tests give one of their own.
    explicit SingleInstance(QDBusConnection bus, QString service = QString::fromLatin1(serviceName),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // Serves Activate, then asks for the name. When another process owns it, that process's
    // Activate is called with `platformData` and awaited for at most `bound`. Runs before the
    // application has a window, so the wait blocks nothing the user sees.
    Claim claim(const QVariantMap& platformData, std::chrono::milliseconds bound);

    // The launch's activation token, in org.freedesktop.Application's platform data: Wayland's
    // XDG_ACTIVATION_TOKEN, or X11's DESKTOP_STARTUP_ID. Read before the application object
    // exists: Qt's X11 platform takes DESKTOP_STARTUP_ID from the environment when it starts.
    static QVariantMap launchPlatformData();
    // The token in `platformData`, or empty when it holds none that is usable.
    static QString activationToken(const QVariantMap& platformData);

public Q_SLOTS:
    Q_SCRIPTABLE void Activate(const QVariantMap& platformData);

Q_SIGNALS:
    // Another launch, or a desktop's launcher, asked for the window; the token may be empty.
    void activated(const QString& activationToken);

private:
    QDBusConnection bus_;
    QString service_;
    bool registeredObject_ = false;
    bool ownsName_ = false;
};

}  // namespace norv
