// `cmake --install` into a prefix of the test's own: the programs, the resource folder with
// the demo runtime and Remote Script, the desktop entry and the icon land where a Linux desktop
// looks, and the installed application finds its runtime there, plays the demo session and
// connects to it.
#include "tests/e2e/app_run.h"

#include <QDirIterator>

namespace {

using norv::e2e::processesMentioning;

class InstalledApplication : public norv::e2e::AppRun {
protected:
    void SetUp() override {
        AppRun::SetUp();
        ASSERT_TRUE(temp.isValid());
        prefix = temp.filePath(QStringLiteral("prefix"));
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(QStringLiteral(NORV_CMAKE_COMMAND),
                      {QStringLiteral("--install"), QStringLiteral(NORV_BINARY_DIR), QStringLiteral("--prefix"), prefix});
        ASSERT_TRUE(install.waitForFinished(60000));
        ASSERT_EQ(install.exitCode(), 0) << install.readAll().toStdString();
    }

    QString installed(const QString& path) const { return prefix + QLatin1Char('/') + path; }

    QTemporaryDir temp;
    QString prefix;
};

TEST_F(InstalledApplication, LaysOutThePrefixAndTheInstalledProgramConnectsToTheDemoEngine) {
    for (const char* program : {"bin/NorvBridgeMac", "bin/NorvMIDIHelper"})
        EXPECT_TRUE(QFileInfo(installed(QLatin1String(program))).isExecutable()) << program;
    for (const char* file : {"share/norv-bridge/NorvAppIcon.svg", "share/norv-bridge/BridgeRuntime/tools/run_bridge.py",
                             "share/norv-bridge/BridgeRuntime/tools/demo_session.json",
                             "share/norv-bridge/RemoteScript/manifest.json",
                             "share/icons/hicolor/scalable/apps/norv-bridge.svg"})
        EXPECT_TRUE(QFile::exists(installed(QLatin1String(file)))) << file;
    QDirIterator stubs(installed(QStringLiteral("share/norv-bridge/BridgeRuntime/PythonRuntime")), {QStringLiteral("python3.13")},
                       QDir::Files, QDirIterator::Subdirectories);
    ASSERT_TRUE(stubs.hasNext()) << "the interpreter stub is installed";
    const QString interpreter = stubs.next();
    EXPECT_TRUE(QFileInfo(interpreter).isExecutable());

    QFile entry(installed(QStringLiteral("share/applications/norv-bridge.desktop")));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QString desktop = QString::fromUtf8(entry.readAll());
    EXPECT_TRUE(desktop.contains(QStringLiteral("\nExec=") + installed(QStringLiteral("bin/NorvBridgeMac")) + QLatin1Char('\n')));
    EXPECT_TRUE(desktop.contains(QStringLiteral("\nIcon=norv-bridge\n")));

    // The shipped Remote Script checks as the Live page's verify action runs it, and leaves the
    // installed folder as it was (a system prefix is read-only).
    const QString bundle = installed(QStringLiteral("share/norv-bridge/RemoteScript"));
    QProcess check;
    check.start(interpreter, {QStringLiteral("-I"), QStringLiteral("-B"),
                              installed(QStringLiteral("share/norv-bridge/BridgeRuntime/tools/run_bridge.py")),
                              QStringLiteral("--script-bundle"), bundle});
    ASSERT_TRUE(check.waitForFinished(20000));
    EXPECT_EQ(check.exitCode(), 0);
    EXPECT_EQ(check.readAllStandardOutput(),
              QByteArray(R"({"version": "1.4.0", "buildId": "demo-1.4.0", "exists": false, "current": false})"));
    EXPECT_EQ(QDir(bundle).entryList(QDir::Files), QStringList({QStringLiteral("__init__.py"), QStringLiteral("manifest.json")}));

    app.start(installed(QStringLiteral("bin/NorvBridgeMac")), {QStringLiteral("--print-state")});
    ASSERT_TRUE(app.waitForStarted(10000));
    ASSERT_TRUE(waitForState(QStringLiteral("footer=CONNECTED devices=2"), 45000)) << log.toStdString();
    EXPECT_FALSE(processesMentioning(home.path()).isEmpty()) << "the engine runs from the runtime copy";
    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    ASSERT_TRUE(app.waitForFinished(15000)) << log.toStdString();
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_TRUE(waitForNoEngine(5000));
}

}  // namespace
