#include "midi_helper/helper_usage.h"

namespace norv {

bool helpRequested(const std::vector<std::string>& arguments) {
    for (size_t i = 0; i < arguments.size(); i += 2) {
        if (arguments[i] == "--help" || arguments[i] == "-h") return true;
    }
    return false;
}

bool versionRequested(const std::vector<std::string>& arguments) {
    for (size_t i = 0; i < arguments.size(); i += 2) {
        if (arguments[i] == "--version") return true;
    }
    return false;
}

std::string_view helperVersion() { return "NorvMIDIHelper " NORV_HELPER_VERSION "\n"; }

std::string_view helperUsage() {
    return R"(Usage: NorvMIDIHelper [--option value]...

Plays MIDI that arrives as fast MIDI packets (UDP datagrams and TCP streams on one port, or two
private local sockets) on a virtual MIDI port of JACK. A parent process drives it with commands on
standard input and reads one JSON object per line on standard output.

Options (each takes a value; numbers in decimal or as 0x-prefixed hexadecimal):
  --source-name NAME         the output port where the helper's MIDI appears (default "Norv")
  --source-uid N             unique id of that port (default: the four characters "NINS")
  --destination-name NAME    an input port that only counts what it receives; an empty name
                             makes none (default "Norv")
  --destination-uid N        unique id of that port (default: the four characters "NINO")
  --udp-host ADDRESS         IPv4 address the UDP and TCP listeners bind (default 0.0.0.0)
  --udp-port N               their port, 0 for no network listeners (default 0)
  --private-socket-dir DIR   listen on DIR/clock.sock and DIR/midi.sock instead; DIR must be
                             the user's own folder, closed to everyone else (mode 0700)
  --midi-channel N           channel 1-16 of notes whose packet names none (default 3)
  --native-repeat-port N     local UDP port of the native Repeat lab, 0 for off (plain decimal;
                             default 0)
  -h, --help                 print this text and exit
  --version                  print the version and exit

Commands on standard input, one a line:
  ping                       answer with a "pong" line of counters
  monitor 1 / monitor 0      report every message sent, as "midi" lines, or stop
  send B1 B2 [B3]            send two or three MIDI bytes (decimal or 0x hexadecimal)
  quit                       shut down; so does the end of input

Output lines: "ready" once started, then "pong", "monitor", "midi" and "error". An "error" line
and exit status 1 mean the start failed.

Where MIDI appears: the JACK client "Norv Bridge MIDI", with the output port named after
--source-name and the input port named after --destination-name (" in" is added to the input's
name when both are the same): "Norv Bridge MIDI:Norv" and "Norv Bridge MIDI:Norv in" by default.
Connect them with any JACK patchbay, for example:
  jack_connect "Norv Bridge MIDI:Norv" "<synth>:<midi input>"
The helper needs a running JACK server, or PipeWire with its JACK library, and never starts one.
"man NorvMIDIHelper" tells more.
)";
}

}  // namespace norv
