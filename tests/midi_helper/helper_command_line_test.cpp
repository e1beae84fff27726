// The built helper started by hand, with no JACK server under the name it looks for.
#include <gtest/gtest.h>

#include <unistd.h>

#include "tests/support/midi_helper/helper_process.h"

namespace norv::test {
namespace {

const std::string kNoServer = "norv-test-absent-" + std::to_string(::getpid());

TEST(HelperCommandLine, HelpPrintsUsageAndExitsWithoutTouchingJack)
{
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"--help"}, {"--udp-port", "9000", "-h"}}) {
        HelperProcess helper(arguments, kNoServer, HelperProcess::Launch::capturingError());
        const std::string usage = helper.readOutput();
        EXPECT_EQ(helper.waitExit(), 0) << arguments.back();
        EXPECT_EQ(usage.rfind("Usage: NorvMIDIHelper", 0), 0u) << usage;
        for (const char* part : {"--private-socket-dir", "--native-repeat-port", "monitor 1", "send B1 B2 [B3]", "quit",
                                 "\"Norv Bridge MIDI:Norv\"", "\"ready\""})
            EXPECT_NE(usage.find(part), std::string::npos) << part;
        // libjack complains on standard error about a server it cannot reach: nothing was tried.
        EXPECT_EQ(helper.readError(), "");
    }
}

TEST(HelperCommandLine, VersionPrintsTheProjectVersionAndExitsWithoutTouchingJack)
{
    HelperProcess helper({"--udp-port", "9000", "--version"}, kNoServer, HelperProcess::Launch::capturingError());
    EXPECT_EQ(helper.readOutput(), "NorvMIDIHelper " NORV_PROJECT_VERSION "\n");
    EXPECT_EQ(helper.waitExit(), 0);
    EXPECT_EQ(helper.readError(), "");
}

TEST(HelperCommandLine, WithoutJackTheErrorLineStaysAndStandardErrorSaysWhatToDo)
{
    HelperProcess helper({}, kNoServer, HelperProcess::Launch::capturingError());
    auto error = helper.nextEvent();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->size(), 2u);
    EXPECT_EQ((*error)["type"], "error");
    const std::string message = (*error)["message"];
    EXPECT_EQ(message.rfind("MIDIClientCreate failed with OSStatus ", 0), 0u) << message;
    EXPECT_EQ(helper.waitExit(), 1);
    const std::string hint = helper.readError();
    EXPECT_NE(hint.find("no JACK server is running"), std::string::npos) << hint;
    EXPECT_NE(hint.find("PipeWire with its JACK library"), std::string::npos) << hint;
}

} // namespace
} // namespace norv::test
