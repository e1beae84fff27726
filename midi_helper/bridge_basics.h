#pragma once

namespace norv {

struct HelperConfig;
class NoteLedger;
class Scheduler;

// What every unit of the bridge is built with: the configuration, the loop's time and timers, and
// the ledger all MIDI goes through.
struct BridgeBasics {
    const HelperConfig& config;
    Scheduler& scheduler;
    NoteLedger& ledger;
};

}  // namespace norv
