#include "model/midi_monitor_plain_frame.h"

#include "model/admin_json_reader.h"

#include <nlohmann/json.hpp>

#include <array>
#include <limits>
#include <string_view>

namespace norv {

namespace {

using json = nlohmann::json;

// The fields read, by the object they belong to; each is a bit of its object's `seen` mask.
enum Field : std::uint8_t {
    // an event
    sequence, timestamp, deviceId, endpoint, role, kind, channel, number, value, bytes, source,
    // the batch
    events = 0, dropped, latestSequence, reset,
    // the envelope
    path = 0, args,
    other = 0xfe,  // a key no decoder reads: its value is passed over
    none = 0xff,   // no value expected: the last key's value was read, or an array's element is next
};

constexpr std::array<std::string_view, 11> kEventKeys = {"sequence", "timestamp", "deviceId", "endpoint",
                                                         "role",     "kind",      "channel",  "number",
                                                         "value",    "bytes",     "source"};
constexpr std::array<std::string_view, 4> kBatchKeys = {"events", "dropped", "latestSequence", "reset"};
constexpr std::array<std::string_view, 2> kEnvelopeKeys = {"path", "args"};

template <std::size_t N>
std::uint8_t fieldOf(const std::array<std::string_view, N>& keys, std::string_view key) {
    for (std::size_t i = 0; i < N; ++i) {
        if (keys[i] == key) return static_cast<std::uint8_t>(i);
    }
    return other;
}

// A SAX handler that follows the plain form and stops (returns false) at the first thing outside
// it, so the caller's general decoding has the last word on everything else.
class PlainFrame {
public:
    using number_integer_t = json::number_integer_t;
    using number_unsigned_t = json::number_unsigned_t;
    using number_float_t = json::number_float_t;
    using string_t = json::string_t;
    using binary_t = json::binary_t;

    bool complete() const { return place_ == Place::done; }
    MidiMonitorBatch& batch() { return batch_; }

    bool null() { return skipScalar(); }
    bool boolean(bool on) {
        if (skipping()) return skipScalar();
        if (place_ != Place::batch || field_ != reset) return false;
        batch_.reset = on;
        return true;
    }
    bool number_integer(number_integer_t n) { return skipping() ? skipScalar() : integer(n); }
    bool number_unsigned(number_unsigned_t n) {
        if (skipping()) return skipScalar();
        if (n > static_cast<number_unsigned_t>(std::numeric_limits<std::int64_t>::max())) return false;
        return integer(static_cast<std::int64_t>(n));
    }
    // Integers sent as reals (5.0) are read by the general rules.
    bool number_float(number_float_t real, const string_t&) {
        if (skipping()) return skipScalar();
        if (place_ != Place::event || field_ != timestamp) return false;
        event_.timestamp = real;
        return true;
    }
    bool string(string_t& text) {
        if (skipping()) return skipScalar();
        if (place_ == Place::envelope) return field_ == path && text == "/admin/midi-monitor/events";
        if (place_ != Place::event) return false;
        switch (field_) {
            case deviceId: event_.deviceId = text; return true;
            case endpoint: event_.endpoint = text; return true;
            case role: event_.role = text; return true;
            case kind: event_.kind = text; return true;
            case source: event_.source = text; return true;
            default: return false;
        }
    }
    bool binary(binary_t&) { return false; }

    bool start_object(std::size_t) {
        if (skipping()) return skipInto();
        switch (place_) {
            case Place::start: return enter(Place::envelope);
            case Place::args: return batchesSeen_++ == 0 && enter(Place::batch);
            case Place::events: event_ = MidiMonitorEvent{}; return enter(Place::event);
            default: return false;
        }
    }
    bool start_array(std::size_t) {
        if (skipping()) return skipInto();
        if (place_ == Place::envelope && field_ == args) return enter(Place::args);
        if (place_ == Place::batch && field_ == events) return enter(Place::events);
        if (place_ == Place::event && field_ == bytes) return enter(Place::bytes);
        return false;
    }
    bool key(string_t& wire) {
        if (skip_ > 0) return true;
        const std::string converted = AdminJsonReader::camelCaseKey(wire);
        switch (place_) {
            case Place::envelope:
                // A body whose first key is not "path" may well be some other message.
                if (seen_ == 0 && converted != kEnvelopeKeys[path]) return false;
                return take(fieldOf(kEnvelopeKeys, converted));
            case Place::batch: return take(fieldOf(kBatchKeys, converted));
            case Place::event: return take(fieldOf(kEventKeys, converted));
            default: return false;
        }
    }
    bool end_object() {
        if (skip_ > 0) return --skip_, true;
        switch (place_) {
            case Place::event:
                if (seen_ != allOf(kEventKeys.size())) return false;
                batch_.events.push_back(std::move(event_));
                return leave(Place::events);
            case Place::batch: return seen_ == allOf(kBatchKeys.size()) && leave(Place::args);
            case Place::envelope: return seen_ == allOf(kEnvelopeKeys.size()) && leave(Place::done);
            default: return false;
        }
    }
    bool end_array() {
        if (skip_ > 0) return --skip_, true;
        switch (place_) {
            case Place::bytes: return leave(Place::event);
            case Place::events: return leave(Place::batch);
            case Place::args: return batchesSeen_ == 1 && leave(Place::envelope);
            default: return false;
        }
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

private:
    enum class Place { start, envelope, args, batch, events, event, bytes, done };

    static std::uint32_t allOf(std::size_t fields) { return (std::uint32_t{1} << fields) - 1; }

    // An ignored value is being passed over: right after an unread key, or inside its containers.
    bool skipping() const { return skip_ > 0 || field_ == other; }
    bool skipScalar() {
        if (skip_ == 0) {
            if (field_ != other) return false;  // a null where a field's value belongs
            field_ = none;
        }
        return true;
    }
    bool skipInto() {
        if (skip_ == 0) field_ = none;
        ++skip_;
        return true;
    }

    // A key of the current object: read once, or passed over.
    bool take(std::uint8_t field) {
        field_ = field;
        if (field == other) return true;
        const std::uint32_t bit = std::uint32_t{1} << field;
        if ((seen_ & bit) != 0) return false;  // sent twice, or in two spellings that convert alike
        seen_ |= bit;
        return true;
    }

    bool integer(std::int64_t n) {
        if (place_ == Place::bytes) {
            event_.bytes.push_back(n);
            return true;
        }
        if (place_ == Place::batch) {
            if (field_ == dropped) return batch_.dropped = n, true;
            if (field_ == latestSequence) return batch_.latestSequence = n, true;
            return false;
        }
        if (place_ != Place::event) return false;
        switch (field_) {
            case sequence: event_.sequence = n; return true;
            case timestamp: event_.timestamp = static_cast<double>(n); return true;
            case channel: event_.channel = n; return true;
            case number: event_.number = n; return true;
            case value: event_.value = n; return true;
            default: return false;
        }
    }

    // Objects nest one inside the other and arrays hold one kind each, so the masks of the
    // objects around the current one are kept as the objects are entered and left.
    bool enter(Place place) {
        const bool object = place == Place::envelope || place == Place::batch || place == Place::event;
        if (object) {
            outerSeen_[depth_++] = seen_;
            seen_ = 0;
        }
        place_ = place;
        field_ = none;
        return true;
    }
    bool leave(Place place) {
        if (place_ == Place::envelope || place_ == Place::batch || place_ == Place::event) seen_ = outerSeen_[--depth_];
        place_ = place;
        field_ = none;
        return true;
    }

    Place place_ = Place::start;
    std::uint8_t field_ = none;  // whose value comes next in an object
    int skip_ = 0;                      // containers open inside a value passed over
    std::uint32_t seen_ = 0;            // fields of the current object read so far
    std::array<std::uint32_t, 4> outerSeen_{};
    std::size_t depth_ = 0;
    int batchesSeen_ = 0;
    MidiMonitorEvent event_;
    MidiMonitorBatch batch_;
};

}  // namespace

std::optional<MidiMonitorBatch> readPlainMidiMonitorFrame(std::span<const std::uint8_t> body) {
    PlainFrame frame;
    if (!json::sax_parse(body.begin(), body.end(), &frame) || !frame.complete()) return std::nullopt;
    return std::move(frame.batch());
}

}  // namespace norv
