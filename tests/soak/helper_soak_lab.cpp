#include "helper_soak_lab.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <nlohmann/json.hpp>

namespace norv::test {

RepeatLab::RepeatLab()
    : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
{
    sockaddr_in address = ipv4("127.0.0.1", 0);
    socklen_t length = sizeof address;
    if (!fd_ || ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    port_ = ntohs(address.sin_port);
}

void RepeatLab::service(Rng& rng, SoakClock::time_point now)
{
    if (silentUntil_ && now >= *silentUntil_)
        silentUntil_.reset();
    if (!silentUntil_ && rng() % 1000 < 2) {
        // Falls silent for longer than the helper waits for an acknowledgement (0.5 s) or not.
        silentUntil_ = now + std::chrono::milliseconds(300 + rng() % 600);
        ++silences;
    }
    uint8_t buffer[2048];
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(fd_.get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 4)
            return;
        if (std::string(buffer, buffer + 4) != "NNRQ")
            continue;
        ++requests;
        const auto request = nlohmann::json::parse(buffer + 4, buffer + n, nullptr, false);
        if (silentUntil_ || !request.is_object() || !request.contains("token") || !request.contains("generation"))
            continue;
        const std::string body =
            nlohmann::json{{"token", request["token"]}, {"generation", request["generation"]}, {"ready", true}}.dump();
        Bytes ack = {'N', 'N', 'R', 'A'};
        ack.insert(ack.end(), body.begin(), body.end());
        if (::sendto(fd_.get(), ack.data(), ack.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength) > 0)
            ++acknowledgements;
    }
}

} // namespace norv::test
