#include "bluetooth/codec/bluetooth_endpoint_parser.h"

#include "bluetooth/codec/bluetooth_error.h"
#include "model/byte_reader.h"

namespace norv {

namespace {
constexpr std::uint32_t frameLimit = 4194304;
}

void BluetoothEndpointParser::receive(std::span<const std::uint8_t> bytes) {
    if (failed_) throw BluetoothError::invalidStateFrame();
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());

    std::size_t consumed = 0;
    const ConsumedPrefix compact(buffer_, consumed);

    while (true) {
        ByteReader reader{std::span(buffer_).subspan(consumed)};
        std::uint32_t length = 0;
        if (!reader.u32(length)) break;
        if (length < 1 || length > frameLimit) {
            failed_ = true;
            throw BluetoothError::invalidStateFrame();
        }
        std::span<const std::uint8_t> body;
        if (!reader.bytes(length, body)) break;
        consumed += 4 + length;
        ++frames_;
        handle(body);
    }
}

void BluetoothEndpointParser::handle(std::span<const std::uint8_t> body) {
    const auto json = nlohmann::json::parse(body.begin(), body.end(), nullptr, false);
    if (json.is_discarded() || !json.is_object()) return;
    const auto pathIt = json.find("path");
    const std::string path = pathIt != json.end() && pathIt->is_string() ? pathIt->get<std::string>() : "unknown";
    ++paths_[path];
    if (path != "/norv/health/status") return;

    const auto args = json.find("args");
    if (args == json.end() || !args->is_array() || args->empty() || !args->front().is_object()) return;
    const auto& health = args->front();
    midiPorts_.clear();
    if (const auto port = health.find("instrument_midi_native_tcp_port");
        port != health.end() && port->is_number_integer()) {
        const auto value = port->get<long long>();
        if (value >= 1025 && value <= 65535) midiPorts_.insert(static_cast<std::uint16_t>(value));
    }
    if (onHealth) onHealth(health);
}

}  // namespace norv
