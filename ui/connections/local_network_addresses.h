#pragma once
// The computer's own IPv4 addresses for manual Wi-Fi targets. The interface list comes from a
// lister so tests can hand in their own; the default reads the system's interfaces.

#include <QHostAddress>
#include <QStringList>
#include <functional>
#include <vector>

namespace norv {

struct InterfaceAddressEntry {
    QHostAddress address;
    bool up = false;
    bool loopback = false;
};

using InterfaceLister = std::function<std::vector<InterfaceAddressEntry>()>;

class LocalNetworkAddresses {
public:
    LocalNetworkAddresses() = delete;

    // Numeric IPv4 addresses of interfaces that are up and not loopback, without link-local
    // ones, each once, sorted as text. Empty when nothing qualifies.
    static QStringList ipv4(const InterfaceLister& lister = systemInterfaces);
    // Every address of every interface, read afresh.
    static std::vector<InterfaceAddressEntry> systemInterfaces();
};

}  // namespace norv
