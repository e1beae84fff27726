#include "core/bridge_runtime_error.h"
#include "core/bridge_runtime_files.h"
#include "runtime_test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norv {
namespace {

using test::writeFile;

BridgeRuntimeError::Kind fingerprintFailure(const QString& root) {
    try {
        BridgeRuntimeFiles::fingerprint(root);
    } catch (const BridgeRuntimeError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "fingerprint succeeded";
    return BridgeRuntimeError::Kind::io;
}

QStringList stagingFolders(const QString& support) {
    return QDir(support + QStringLiteral("/BridgeRuntimes"))
        .entryList({QStringLiteral(".staging-*")}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
}

class RuntimeFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        shipped = dir.filePath(QStringLiteral("BridgeRuntime"));
        support = dir.filePath(QStringLiteral("support/Norv Session"));
        test::writeMinimalRuntime(shipped);
    }
    QTemporaryDir dir;
    QString shipped;
    QString support;
};

TEST_F(RuntimeFilesTest, FingerprintMatchesAnIndependentComputation) {
    // "a.b" sorts before "a/b" (0x2E < 0x2F); hidden files count, empty folders do not.
    writeFile(shipped + QStringLiteral("/a.b"), "dot");
    writeFile(shipped + QStringLiteral("/a/b"), "slash");
    writeFile(shipped + QStringLiteral("/.hidden"), "");
    const QString before = BridgeRuntimeFiles::fingerprint(shipped);
    EXPECT_EQ(before, test::independentFingerprint(shipped));
    EXPECT_EQ(before.size(), 64);

    QDir().mkpath(shipped + QStringLiteral("/empty/deeper"));
    EXPECT_EQ(BridgeRuntimeFiles::fingerprint(shipped), before);
    writeFile(shipped + QStringLiteral("/.hidden"), "x");
    EXPECT_NE(BridgeRuntimeFiles::fingerprint(shipped), before);
}

TEST_F(RuntimeFilesTest, FingerprintDoesNotDependOnCreationOrder) {
    const QString other = dir.filePath(QStringLiteral("other"));
    for (const char* name : {"z", "m/q", "a", "m/b"}) writeFile(other + QLatin1Char('/') + QLatin1String(name), name);
    const QString reversed = dir.filePath(QStringLiteral("reversed"));
    for (const char* name : {"m/b", "a", "m/q", "z"}) writeFile(reversed + QLatin1Char('/') + QLatin1String(name), name);
    EXPECT_EQ(BridgeRuntimeFiles::fingerprint(other), BridgeRuntimeFiles::fingerprint(reversed));
}

TEST_F(RuntimeFilesTest, FingerprintRefusesLinksSpecialFilesAndTreesWithoutFiles) {
    const QString linked = dir.filePath(QStringLiteral("linked"));
    ASSERT_TRUE(QDir().mkpath(linked + QStringLiteral("/deep")));
    writeFile(linked + QStringLiteral("/file"), "x");
    ASSERT_EQ(::symlink("../file", QFile::encodeName(linked + QStringLiteral("/deep/link")).constData()), 0);
    EXPECT_EQ(fingerprintFailure(linked), BridgeRuntimeError::Kind::invalidFileName);

    const QString rootLink = dir.filePath(QStringLiteral("root-link"));
    ASSERT_EQ(::symlink(QFile::encodeName(shipped).constData(), QFile::encodeName(rootLink).constData()), 0);
    EXPECT_EQ(fingerprintFailure(rootLink), BridgeRuntimeError::Kind::invalidFileName);

    const QString piped = dir.filePath(QStringLiteral("piped"));
    writeFile(piped + QStringLiteral("/file"), "x");
    ASSERT_EQ(::mkfifo(QFile::encodeName(piped + QStringLiteral("/fifo")).constData(), 0600), 0);
    EXPECT_EQ(fingerprintFailure(piped), BridgeRuntimeError::Kind::unknownRead);

    const QString empty = dir.filePath(QStringLiteral("empty"));
    ASSERT_TRUE(QDir().mkpath(empty + QStringLiteral("/a/b")));
    EXPECT_EQ(fingerprintFailure(empty), BridgeRuntimeError::Kind::noSuchFile);

    EXPECT_EQ(fingerprintFailure(dir.filePath(QStringLiteral("missing"))), BridgeRuntimeError::Kind::io);
}

TEST_F(RuntimeFilesTest, PrepareMakesOneVerifiedExecutableCopyAndReusesIt) {
    const QString fingerprint = BridgeRuntimeFiles::fingerprint(shipped);
    const QString copy = BridgeRuntimeFiles::prepare(shipped, support);
    EXPECT_EQ(copy, support + QStringLiteral("/BridgeRuntimes/") + fingerprint);
    EXPECT_EQ(BridgeRuntimeFiles::fingerprint(copy), fingerprint);
    EXPECT_TRUE(BridgeRuntimeFiles::interpreter(copy).has_value());
    EXPECT_EQ(QFileInfo(support + QStringLiteral("/BridgeRuntimes")).permissions() & 0x7777,
              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser | QFile::WriteUser |
                  QFile::ExeUser);

    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(copy).constData(), &before), 0);
    EXPECT_EQ(BridgeRuntimeFiles::prepare(shipped, support), copy);
    struct stat after {};
    ASSERT_EQ(::stat(QFile::encodeName(copy).constData(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_TRUE(stagingFolders(support).isEmpty());
}

TEST_F(RuntimeFilesTest, ChangedCopyIsRefusedAndLeftAlone) {
    const QString copy = BridgeRuntimeFiles::prepare(shipped, support);
    writeFile(copy + QStringLiteral("/tools/run_bridge.py"), "tampered\n");
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            BridgeRuntimeFiles::prepare(shipped, support);
            ADD_FAILURE() << "a changed copy was accepted";
        } catch (const BridgeRuntimeError& error) {
            EXPECT_EQ(error.kind(), BridgeRuntimeError::Kind::corruptFile);
            EXPECT_EQ(error.code(), 259);
        }
    }
    QFile file(copy + QStringLiteral("/tools/run_bridge.py"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "tampered\n");
    EXPECT_TRUE(stagingFolders(support).isEmpty());
}

TEST_F(RuntimeFilesTest, LosingTheRaceToAnEqualCopyReturnsIt) {
    QString inner;
    const QString outer = BridgeRuntimeFiles::prepare(shipped, support, [&] {
        inner = BridgeRuntimeFiles::prepare(shipped, support);
    });
    EXPECT_EQ(outer, inner);
    EXPECT_EQ(BridgeRuntimeFiles::fingerprint(outer), BridgeRuntimeFiles::fingerprint(shipped));
    EXPECT_TRUE(stagingFolders(support).isEmpty());
}

TEST_F(RuntimeFilesTest, FinishedCopyNeverReplacesAFolderThatAppearedMeanwhile) {
    QString target;
    EXPECT_THROW(BridgeRuntimeFiles::prepare(shipped, support,
                                             [&] {
                                                 target = support + QStringLiteral("/BridgeRuntimes/") +
                                                          BridgeRuntimeFiles::fingerprint(shipped);
                                                 ASSERT_TRUE(QDir().mkpath(target));
                                             }),
                 BridgeRuntimeError);
    EXPECT_TRUE(QDir(target).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    EXPECT_TRUE(stagingFolders(support).isEmpty());
}

TEST_F(RuntimeFilesTest, InterpreterMustBeAnExecutableFile) {
    EXPECT_FALSE(BridgeRuntimeFiles::interpreter(QString()).has_value());
    const auto found = BridgeRuntimeFiles::interpreter(shipped);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, shipped + QStringLiteral("/PythonRuntime/x86_64/bin/python3.13"));
    ::chmod(QFile::encodeName(*found).constData(), 0644);
    EXPECT_FALSE(BridgeRuntimeFiles::interpreter(shipped).has_value());
}

TEST(RuntimeEnvironmentTest, OnlyTheAllowListPassesAndPathIsFixed) {
    QProcessEnvironment base;
    base.insert(QStringLiteral("PATH"), QStringLiteral("/evil"));
    base.insert(QStringLiteral("HOME"), QStringLiteral("/home/u"));
    base.insert(QStringLiteral("USER"), QStringLiteral("u"));
    base.insert(QStringLiteral("lc_all"), QStringLiteral("C"));
    const QProcessEnvironment result = BridgeRuntimeFiles::environment(base);
    QStringList keys = result.keys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{QStringLiteral("HOME"), QStringLiteral("PATH")}));
    EXPECT_EQ(result.value(QStringLiteral("HOME")), QStringLiteral("/home/u"));
    EXPECT_EQ(result.value(QStringLiteral("PATH")), QStringLiteral("/usr/bin:/bin:/usr/sbin:/sbin"));
}

TEST_F(RuntimeFilesTest, ManagedRootNeedsTheEngineScriptAndASupportFolder) {
    const QString resources = dir.path();
    const auto root = BridgeRuntimeFiles::managedRoot(resources, support);
    ASSERT_TRUE(root.has_value());
    EXPECT_TRUE(root->startsWith(support + QStringLiteral("/BridgeRuntimes/")));
    EXPECT_FALSE(BridgeRuntimeFiles::managedRoot(resources, std::nullopt).has_value());

    // A damaged copy gives no root (and an entry in the system log).
    writeFile(*root + QStringLiteral("/tools/run_bridge.py"), "tampered\n");
    EXPECT_FALSE(BridgeRuntimeFiles::managedRoot(resources, support).has_value());

    QFile::remove(shipped + QStringLiteral("/tools/run_bridge.py"));
    EXPECT_FALSE(BridgeRuntimeFiles::shippedRoot(resources).has_value());
    EXPECT_FALSE(BridgeRuntimeFiles::managedRoot(resources, support).has_value());
}

TEST(RuntimeSupportFolderTest, XdgDataHomeFirstThenHome) {
    const QByteArray savedXdg = qgetenv("XDG_DATA_HOME");
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("XDG_DATA_HOME", "/data/home");
    qputenv("HOME", "/home/user");
    EXPECT_EQ(BridgeRuntimeFiles::supportFolder(), QStringLiteral("/data/home/Norv Session"));
    qputenv("XDG_DATA_HOME", "relative/is/ignored");
    EXPECT_EQ(BridgeRuntimeFiles::supportFolder(), QStringLiteral("/home/user/.local/share/Norv Session"));
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("HOME");
    EXPECT_FALSE(BridgeRuntimeFiles::supportFolder().has_value());
    qputenv("XDG_DATA_HOME", savedXdg);
    qputenv("HOME", savedHome);
}

}  // namespace
}  // namespace norv
