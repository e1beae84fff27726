#include <gtest/gtest.h>

#include "midi_helper/helper_command.h"
#include "midi_helper/helper_config.h"

namespace norv {
namespace {

TEST(ParseInteger, ReadsTrimmedDecimalAndHexadecimalWithinSixtyFourBits)
{
    EXPECT_EQ(parseInteger(" \t42\n"), 42);
    EXPECT_EQ(parseInteger("-7"), -7);
    EXPECT_EQ(parseInteger("+7"), 7);
    EXPECT_EQ(parseInteger("0x10"), 16);
    EXPECT_EQ(parseInteger("0XfF"), 255);
    EXPECT_EQ(parseInteger("0x-10"), -16);
    EXPECT_EQ(parseInteger("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(parseInteger("-9223372036854775808"), INT64_MIN);

    for (const char* bad : {"", "  ", "0x", "+", "--1", "1 2", "12a", "0x1g", "9223372036854775808",
                            "0x8000000000000000", "99999999999999999999", "1.5"})
        EXPECT_EQ(parseInteger(bad), std::nullopt) << bad;
}

HelperConfig parse(std::vector<std::string> args)
{
    return HelperConfig::fromArguments(args);
}

TEST(HelperConfig, DefaultsAndClamping)
{
    HelperConfig defaults = parse({});
    EXPECT_EQ(defaults.sourceName, "Norv");
    EXPECT_EQ(defaults.sourceUniqueID, 0x4E494E53);
    EXPECT_EQ(defaults.destinationUniqueID, 0x4E494E4F);
    EXPECT_EQ(defaults.udpHost, "0.0.0.0");
    EXPECT_EQ(defaults.udpPort, 0);
    EXPECT_EQ(defaults.midiChannel, 3);
    EXPECT_FALSE(defaults.privateSocketDirectory);

    EXPECT_EQ(parse({"--udp-port", "70000"}).udpPort, 65535);
    EXPECT_EQ(parse({"--udp-port", "-5"}).udpPort, 0);
    EXPECT_EQ(parse({"--udp-port", "9000", "--udp-port", "abc"}).udpPort, 9000);
    EXPECT_EQ(parse({"--udp-port", "0x10"}).udpPort, 16);
    EXPECT_EQ(parse({"--udp-port", " 9000 "}).udpPort, 9000);
    EXPECT_EQ(parse({"--midi-channel", "0"}).midiChannel, 1);
    EXPECT_EQ(parse({"--midi-channel", "99"}).midiChannel, 16);
}

TEST(HelperConfig, RepeatPortTakesPlainDecimalOnly)
{
    EXPECT_EQ(parse({"--native-repeat-port", "5000"}).nativeRepeatPort, 5000);
    EXPECT_EQ(parse({"--native-repeat-port", "+5000"}).nativeRepeatPort, 5000);
    EXPECT_EQ(parse({"--native-repeat-port", "5000", "--native-repeat-port", "abc"}).nativeRepeatPort, 0);
    EXPECT_EQ(parse({"--native-repeat-port", "0x10"}).nativeRepeatPort, 0);
    EXPECT_EQ(parse({"--native-repeat-port", " 5000"}).nativeRepeatPort, 0);
    EXPECT_EQ(parse({"--native-repeat-port", "99999"}).nativeRepeatPort, 65535);
}

TEST(HelperConfig, PairsUnknownNamesAndTrailingOptions)
{
    HelperConfig config = parse({"--bogus", "1", "--udp-port", "9000", "--midi-channel"});
    EXPECT_EQ(config.udpPort, 9000);
    EXPECT_EQ(config.midiChannel, 3);
    // A value that looks like a name is still a value.
    EXPECT_EQ(parse({"--source-name", "--udp-port", "9000"}).sourceName, "--udp-port");
    EXPECT_EQ(parse({"--private-socket-dir", "/tmp/x"}).privateSocketDirectory, "/tmp/x");
    EXPECT_EQ(parse({"--destination-name", " Out "}).destinationName, " Out ");
}

TEST(HelperConfig, UniqueIdsOutsideThirtyTwoBitsAreNotStored)
{
    EXPECT_EQ(parse({"--source-uid", "-2147483648"}).sourceUniqueID, INT32_MIN);
    EXPECT_EQ(parse({"--source-uid", "0x7fffffff"}).sourceUniqueID, INT32_MAX);
    EXPECT_EQ(parse({"--source-uid", "2147483648"}).sourceUniqueID, 0x4E494E53);
    EXPECT_EQ(parse({"--destination-uid", "0x100000000"}).destinationUniqueID, 0x4E494E4F);
}

TEST(HelperConfig, OptionValuesAndCommandLinesTrimUnicodeWhiteSpace)
{
    // No-break space, line and paragraph separators, NEL, ideographic and thin spaces.
    EXPECT_EQ(parse({"--udp-port", "\u00A09000\u2028"}).udpPort, 9000);
    EXPECT_EQ(parse({"--midi-channel", "\u3000\u00855\u2029\u202F"}).midiChannel, 5);
    EXPECT_EQ(parseInteger("\u20090x10\u205F"), 16);
    EXPECT_EQ(parseInteger("\u00A0"), std::nullopt);
    using Kind = HelperCommand::Kind;
    EXPECT_EQ(HelperCommand::parse("\u2028ping\u00A0").kind, Kind::Ping);
    EXPECT_EQ(HelperCommand::parse("\u3000\u1680").kind, Kind::Empty);
    EXPECT_EQ(HelperCommand::parse("send 144 60\u2028").bytes, (std::vector<uint8_t>{0x90, 60}));
    // A character that only shares a leading byte with a space is kept: U+00A1 is not one.
    EXPECT_EQ(parseInteger("\u00A11"), std::nullopt);
}

TEST(HelperCommand, ParsesTheCommandLines)
{
    using Kind = HelperCommand::Kind;
    EXPECT_EQ(HelperCommand::parse("  ping \r").kind, Kind::Ping);
    EXPECT_EQ(HelperCommand::parse("").kind, Kind::Empty);
    EXPECT_EQ(HelperCommand::parse("quit").kind, Kind::Quit);
    EXPECT_TRUE(HelperCommand::parse("monitor 1").monitorEnabled);
    EXPECT_EQ(HelperCommand::parse("monitor 0").kind, Kind::Monitor);
    EXPECT_EQ(HelperCommand::parse("monitor  1").kind, Kind::Unsupported);

    EXPECT_EQ(HelperCommand::parse("send 144 60").bytes, (std::vector<uint8_t>{0x90, 60}));
    EXPECT_EQ(HelperCommand::parse("send   0x90 60   300").bytes, (std::vector<uint8_t>{0x90, 0x3C, 0xFF}));
    EXPECT_EQ(HelperCommand::parse("send -4 60 1").bytes, (std::vector<uint8_t>{0, 60, 1}));
    EXPECT_EQ(HelperCommand::parse("send 144 x 1").kind, Kind::InvalidBytes);
    EXPECT_EQ(HelperCommand::parse("send 1 2 3 4").kind, Kind::Unsupported);
    EXPECT_EQ(HelperCommand::parse("send 1").kind, Kind::Unsupported);
    // Tabs do not separate pieces.
    EXPECT_EQ(HelperCommand::parse("send\t144 60 1").kind, Kind::Unsupported);
}

} // namespace
} // namespace norv
