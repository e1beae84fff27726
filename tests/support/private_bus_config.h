#pragma once
// The configuration of a private D-Bus daemon for tests: it listens on `address`, lets every
// client own and call anything, and adds `extraPolicy` (rules of the test's own) to that.

#include <QByteArray>
#include <QString>

namespace norv::test {

inline QByteArray privateBusConfig(const QString& address, const QString& extraPolicy = {}) {
    return QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    %2
  </policy>
</busconfig>
)")
        .arg(address, extraPolicy)
        .toUtf8();
}

}  // namespace norv::test
