// The engine host's small units: the adb lookup and the non-blocking port probe.
#include "core/adb_lookup.h"
#include "core/port_probe.h"
#include "tests/support/core/engine_test_support.h"
#include "tests/support/core/runtime_test_support.h"

#include <QTcpServer>
#include <QTemporaryDir>

namespace norv {
namespace {

using namespace std::chrono_literals;

TEST(AdbLookupTest, TheFirstCandidateThatIsAnExecutableFileWins) {
    QTemporaryDir temp;
    const QString named = temp.filePath(QStringLiteral("adb"));
    const QString sdk = temp.filePath(QStringLiteral("Android/Sdk/platform-tools/adb"));
    test::writeFile(named, "#!/bin/sh\n", 0644);
    test::writeFile(sdk, "#!/bin/sh\n", 0755);
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("NORV_ANDROID_ADB_PATH"), named);
    environment.insert(QStringLiteral("HOME"), temp.path());
    EXPECT_EQ(AdbLookup::candidates(environment),
              QStringList({named, sdk, QStringLiteral("/usr/local/bin/adb"),
                           QStringLiteral("/usr/bin/adb")}));
    EXPECT_EQ(AdbLookup::find(environment), sdk);  // the named file is not executable

    QFile::setPermissions(named, QFile::permissions(named) | QFile::ExeOwner);
    EXPECT_EQ(AdbLookup::find(environment), named);
    EXPECT_EQ(AdbLookup::candidates(QProcessEnvironment()),
              QStringList({QStringLiteral("/usr/local/bin/adb"), QStringLiteral("/usr/bin/adb")}));
}

TEST(PortProbeTest, AnswersLaterWhetherSomethingServesTheLoopbackPort) {
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost, 0));
    const auto probe = [](int port) {
        QObject context;
        std::optional<bool> served;
        PortProbe::start(&context, port, 1s, [&](bool answer) { served = answer; });
        EXPECT_FALSE(served.has_value());  // never inside start()
        EXPECT_TRUE(test::waitUntil([&] { return served.has_value(); }));
        return served.value_or(false);
    };
    EXPECT_TRUE(probe(listener.serverPort()));
    EXPECT_FALSE(probe(test::freePort()));
}

}  // namespace
}  // namespace norv
