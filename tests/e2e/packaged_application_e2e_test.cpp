// The Debian package as scripts/package.sh builds it, unpacked (dpkg -x) into a scratch root: the
// application there answers with the package's version, finds its runtime beside it, plays the
// demo session and connects to it. CI names the package in NORV_PACKAGE after building it;
// without a package the test is skipped.
#include "tests/e2e/app_run.h"

namespace {

// Runs a program to its end within a bound and gives its standard output.
QByteArray outputOf(const QString& program, const QStringList& arguments, int* exitCode) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000)) return {};
    *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAllStandardOutput();
}

class PackagedApplication : public norv::e2e::AppRun {};

TEST_F(PackagedApplication, TheUnpackedPackageAnswersItsVersionAndConnectsToTheDemoEngine) {
    const QString package = qEnvironmentVariable("NORV_PACKAGE");
    if (package.isEmpty())
        GTEST_SKIP() << "NORV_PACKAGE names no package; scripts/package.sh builds one";
    ASSERT_TRUE(QFile::exists(package)) << package.toStdString();
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    int status = -1;
    outputOf(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), package, root.path()}, &status);
    ASSERT_EQ(status, 0) << "dpkg-deb -x";
    const QByteArray version =
        outputOf(QStringLiteral("dpkg-deb"),
                 {QStringLiteral("-f"), package, QStringLiteral("Version")}, &status);
    ASSERT_EQ(status, 0) << "dpkg-deb -f";
    // Without Qt's Wayland platform plugin a Wayland session would show the window through XWayland.
    const QByteArray depends = outputOf(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), package, QStringLiteral("Depends")}, &status);
    EXPECT_TRUE(depends.contains("qt6-wayland")) << depends.toStdString();
    const QString program = root.filePath(QStringLiteral("usr/bin/NorvBridgeMac"));
    EXPECT_EQ(outputOf(program, {QStringLiteral("--version")}, &status),
              "NorvBridgeMac " + version);
    EXPECT_EQ(status, 0);

    for (const char* file :
         {"usr/share/man/man1/NorvBridgeMac.1.gz", "usr/share/man/man1/NorvMIDIHelper.1.gz",
          "usr/share/metainfo/org.norv.NorvBridge.metainfo.xml",
          "usr/share/doc/norv-bridge/copyright"})
        EXPECT_TRUE(QFile::exists(root.filePath(QLatin1String(file)))) << file;
    QFile entry(
        root.filePath(QStringLiteral("usr/share/applications/org.norv.NorvBridge.desktop")));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_TRUE(entry.readAll().contains("\nExec=/usr/bin/NorvBridgeMac\n"));

    connectsToTheDemoAndEndsOnSigterm(program);
}

}  // namespace
