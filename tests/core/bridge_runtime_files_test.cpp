#include "core/bridge_runtime_error.h"
#include "core/bridge_runtime_files.h"
#include "tests/support/core/log_capture.h"
#include "tests/support/core/runtime_test_support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norv {
namespace {

using test::writeFile;

std::optional<BridgeRuntimeError::Kind> fingerprintFailure(const QString& root) {
    try {
        BridgeRuntimeFiles::fingerprint(root);
    } catch (const BridgeRuntimeError& error) {
        return error.kind();
    }
    return std::nullopt;
}

class RuntimeFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        test::writeMinimalRuntime(shipped);
    }
    QStringList stagingFolders() const {
        return QDir(support + QStringLiteral("/BridgeRuntimes"))
            .entryList({QStringLiteral(".staging-*")}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    QTemporaryDir dir;
    QString shipped = dir.filePath(QStringLiteral("BridgeRuntime"));
    QString support = dir.filePath(QStringLiteral("support/Norv Session"));
};

TEST_F(RuntimeFilesTest, FingerprintMatchesAnIndependentComputation) {
    // "a.b" sorts before "a/b" (0x2E < 0x2F); hidden files count, empty folders do not, and
    // the order of creation does not matter.
    for (const char* name : {"a/b", ".hidden", "a.b", "z/y/x"}) writeFile(shipped + QLatin1Char('/') + QLatin1String(name), name);
    const QString before = BridgeRuntimeFiles::fingerprint(shipped);
    EXPECT_EQ(before, test::independentFingerprint(shipped));
    QDir().mkpath(shipped + QStringLiteral("/empty/deeper"));
    EXPECT_EQ(BridgeRuntimeFiles::fingerprint(shipped), before);
    writeFile(shipped + QStringLiteral("/.hidden"), "changed");
    EXPECT_NE(BridgeRuntimeFiles::fingerprint(shipped), before);
    EXPECT_EQ(BridgeRuntimeFiles::fingerprint(shipped), test::independentFingerprint(shipped));
}

TEST_F(RuntimeFilesTest, FingerprintRefusesLinksSpecialFilesAndTreesWithoutFiles) {
    const QByteArray root = QFile::encodeName(dir.path());
    ASSERT_EQ(::symlink("../run_bridge.py", root + "/BridgeRuntime/tools/link"), 0);
    EXPECT_EQ(fingerprintFailure(shipped), BridgeRuntimeError::Kind::invalidFileName);
    ASSERT_EQ(::symlink(root + "/BridgeRuntime/tools", root + "/root-link"), 0);
    EXPECT_EQ(fingerprintFailure(dir.filePath(QStringLiteral("root-link"))), BridgeRuntimeError::Kind::invalidFileName);

    writeFile(dir.filePath(QStringLiteral("piped/file")), "x");
    ASSERT_EQ(::mkfifo(root + "/piped/fifo", 0600), 0);
    EXPECT_EQ(fingerprintFailure(dir.filePath(QStringLiteral("piped"))), BridgeRuntimeError::Kind::unknownRead);

    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("empty/a/b"))));
    EXPECT_EQ(fingerprintFailure(dir.filePath(QStringLiteral("empty"))), BridgeRuntimeError::Kind::noSuchFile);
    EXPECT_EQ(fingerprintFailure(dir.filePath(QStringLiteral("missing"))), BridgeRuntimeError::Kind::io);
}

TEST_F(RuntimeFilesTest, PrepareMakesOneExecutableCopyReusesItAndRefusesItOnceChanged) {
    const QString copy = BridgeRuntimeFiles::prepare(shipped, support);
    EXPECT_EQ(copy, support + QStringLiteral("/BridgeRuntimes/") + test::independentFingerprint(shipped));
    EXPECT_TRUE(BridgeRuntimeFiles::interpreter(copy).has_value());
    EXPECT_EQ(QFileInfo(support + QStringLiteral("/BridgeRuntimes")).permissions() & 0x0077, 0);

    struct stat first {}, second {};
    ::stat(QFile::encodeName(copy).constData(), &first);
    EXPECT_EQ(BridgeRuntimeFiles::prepare(shipped, support), copy);
    ::stat(QFile::encodeName(copy).constData(), &second);
    EXPECT_EQ(first.st_ino, second.st_ino);

    writeFile(copy + QStringLiteral("/tools/run_bridge.py"), "tampered\n");
    try {
        BridgeRuntimeFiles::prepare(shipped, support);
        ADD_FAILURE() << "a changed copy was accepted";
    } catch (const BridgeRuntimeError& error) {
        EXPECT_EQ(error.code(), 259);
    }
    {
        // A failed preparation is an error in the application log, and no root.
        test::LogCapture log;
        EXPECT_FALSE(BridgeRuntimeFiles::managedRoot(dir.path(), support).has_value());
        EXPECT_TRUE(log.contains(QtCriticalMsg, test::kProcessCategory,
                                 QStringLiteral("Bundled Bridge runtime preparation failed: ") +
                                     BridgeRuntimeError::corruptFile().description()));
    }
    QFile tampered(copy + QStringLiteral("/tools/run_bridge.py"));
    ASSERT_TRUE(tampered.open(QIODevice::ReadOnly));
    EXPECT_EQ(tampered.readAll(), "tampered\n");
    EXPECT_TRUE(stagingFolders().isEmpty());
}

TEST_F(RuntimeFilesTest, RacingPreparationsShareAnEqualCopyAndNeverReplaceAnother) {
    // Another preparation lands first: both return its copy.
    QString inner;
    const QString outer =
        BridgeRuntimeFiles::prepare(shipped, support, [&] { inner = BridgeRuntimeFiles::prepare(shipped, support); });
    EXPECT_EQ(outer, inner);
    EXPECT_TRUE(stagingFolders().isEmpty());

    // Something else appears at the target meanwhile: it is left alone and the move fails.
    QDir(outer).removeRecursively();
    EXPECT_THROW(BridgeRuntimeFiles::prepare(shipped, support, [&] { ASSERT_TRUE(QDir().mkpath(outer)); }),
                 BridgeRuntimeError);
    EXPECT_TRUE(QDir(outer).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    EXPECT_TRUE(stagingFolders().isEmpty());
}

TEST(RuntimeEnvironmentTest, OnlyTheAllowListPassesAndPathIsFixed) {
    QProcessEnvironment base;
    base.insert(QStringLiteral("PATH"), QStringLiteral("/evil"));
    base.insert(QStringLiteral("HOME"), QStringLiteral("/home/u"));
    base.insert(QStringLiteral("USER"), QStringLiteral("u"));
    base.insert(QStringLiteral("lc_all"), QStringLiteral("C"));
    const QProcessEnvironment result = BridgeRuntimeFiles::environment(base);
    EXPECT_EQ(result.toStringList(),
              (QStringList{QStringLiteral("HOME=/home/u"), QStringLiteral("PATH=/usr/bin:/bin:/usr/sbin:/sbin")}));
}

// Neither the interpreter stub nor the interpreter it hands over to loads the user's site: a
// usercustomize.py in the home folder runs under a plain python3, never under the stub.
TEST(InterpreterStubTest, NeitherStageLoadsTheUsersSite) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    const auto run = [&](const QString& program, const QStringList& arguments) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        return process.readAllStandardOutput().trimmed();
    };
    const QString site = QString::fromUtf8(
        run(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-c"), QStringLiteral("import site; print(site.getusersitepackages())")}));
    const QString marker = home.filePath(QStringLiteral("loaded"));
    writeFile(site + QStringLiteral("/usercustomize.py"), "open('" + marker.toUtf8() + "', 'a').write('x')\n");

    const QString stub = QStringLiteral(NORV_FAKE_RESOURCES_DIR "/BridgeRuntime/PythonRuntime/%1/bin/python3.13")
                             .arg(QLatin1String(BridgeRuntimeFiles::kProcessor));
    run(stub, {QStringLiteral("-I"), QStringLiteral("-c"), QStringLiteral("pass")});
    EXPECT_FALSE(QFile::exists(marker));
    run(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("pass")});
    EXPECT_TRUE(QFile::exists(marker));  // the site is real: a plain interpreter loads it
}

}  // namespace
}  // namespace norv
