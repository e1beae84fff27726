// The helper's datagrams: fast MIDI, Wi-Fi, engine clock, MIDI clock and repeat answers, with
// some stream traffic and virtual time so the clocked and peer-bound paths are reached too.
#include "fuzz/helper_harness.h"

using namespace norv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static constexpr std::array ops{fuzz::HelperOp::FastMidi,    fuzz::HelperOp::Wifi,        fuzz::HelperOp::Wifi,
                                    fuzz::HelperOp::EngineClock, fuzz::HelperOp::MidiClock,   fuzz::HelperOp::RepeatAck,
                                    fuzz::HelperOp::RawDatagram, fuzz::HelperOp::Advance,     fuzz::HelperOp::StreamPayload,
                                    fuzz::HelperOp::Watchdog};
    fuzz::FuzzInput input(data, size);
    fuzz::HelperHarness harness(input.byte());
    harness.run(input, ops);
    return 0;
}
