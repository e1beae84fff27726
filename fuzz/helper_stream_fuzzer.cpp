// The helper's stream frames (8-byte payloads) from three peers that come and go, with clock
// datagrams and virtual time so the stride repeat runs on what they configure.
#include "fuzz/helper_harness.h"

using namespace norv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static constexpr std::array ops{fuzz::HelperOp::StreamPayload, fuzz::HelperOp::StreamPayload,
                                    fuzz::HelperOp::StreamPayload, fuzz::HelperOp::ClosePeer,
                                    fuzz::HelperOp::Advance,       fuzz::HelperOp::EngineClock,
                                    fuzz::HelperOp::MidiClock,     fuzz::HelperOp::RepeatAck,
                                    fuzz::HelperOp::Watchdog};
    fuzz::FuzzInput input(data, size);
    fuzz::HelperHarness harness(input.byte());
    harness.run(input, ops);
    return 0;
}
