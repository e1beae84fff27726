#include "ui/connections/local_network_addresses.h"

#include <QNetworkInterface>
#include <set>

namespace norv {

QStringList LocalNetworkAddresses::ipv4(const InterfaceLister& lister) {
    std::set<QString> unique;
    for (const InterfaceAddressEntry& entry : lister()) {
        if (!entry.up || entry.loopback) continue;
        if (entry.address.protocol() != QAbstractSocket::IPv4Protocol) continue;
        const QString text = entry.address.toString();
        if (text.isEmpty() || text.startsWith(QStringLiteral("169.254."))) continue;
        unique.insert(text);
    }
    return QStringList(unique.begin(), unique.end());
}

std::vector<InterfaceAddressEntry> LocalNetworkAddresses::systemInterfaces() {
    std::vector<InterfaceAddressEntry> result;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        for (const QNetworkAddressEntry& address : interface.addressEntries())
            result.push_back({address.ip(), flags.testFlag(QNetworkInterface::IsUp),
                              flags.testFlag(QNetworkInterface::IsLoopBack)});
    }
    return result;
}

}  // namespace norv
