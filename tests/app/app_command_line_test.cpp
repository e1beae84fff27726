// NorvBridgeMac's command line, read before the application object exists. The built program's
// answers to --help, --version and an unknown option are checked whole in tests/e2e.
#include "app/app_command_line.h"

#include <gtest/gtest.h>

namespace norv {
namespace {

AppCommandLine parse(QStringList arguments) {
    arguments.prepend(QStringLiteral("NorvBridgeMac"));
    return AppCommandLine::parse(arguments);
}

TEST(AppCommandLine, RunsWithItsOwnOptionAndLeavesQtsOptionsToQt) {
    EXPECT_FALSE(parse({}).exit);
    EXPECT_FALSE(parse({}).printState);
    const AppCommandLine line = parse(
        {QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--print-state"),
         QStringLiteral("-style=fusion"), QStringLiteral("-reverse")});
    EXPECT_FALSE(line.exit);
    EXPECT_TRUE(line.printState);
}

TEST(AppCommandLine, AnUnknownOptionAStrayArgumentOrAMissingValueEndsWithTwoAndTheUsage) {
    const std::pair<QStringList, QString> cases[] = {
        {{QStringLiteral("--no-such-option"), QStringLiteral("--help")},
         QStringLiteral("Unknown option 'no-such-option'.")},
        {{QStringLiteral("stray")}, QStringLiteral("Unexpected argument 'stray'.")},
        {{QStringLiteral("-platform")}, QStringLiteral("Missing value after '-platform'.")},
    };
    for (const auto& [arguments, reason] : cases) {
        const auto exit = parse(arguments).exit;
        ASSERT_TRUE(exit) << reason.toStdString();
        EXPECT_EQ(exit->status, 2);
        EXPECT_TRUE(exit->toStandardError);
        EXPECT_TRUE(exit->text.startsWith(QStringLiteral("NorvBridgeMac: ") + reason +
                                          QStringLiteral("\n\nUsage: NorvBridgeMac")))
            << exit->text.toStdString();
    }
}

}  // namespace
}  // namespace norv
