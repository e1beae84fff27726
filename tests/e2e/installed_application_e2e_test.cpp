// `cmake --install --strip` (as the README installs) into a prefix of the test's own: the
// programs, stripped, the resource folder with the demo runtime and Remote Script, the desktop
// entry, its metainfo, the icon and the manual pages land where a Linux desktop looks, and the installed application finds its
// runtime there, plays the demo session and connects to it.
#include "tests/e2e/app_run.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <cstring>
#include <elf.h>
#include <sys/stat.h>

namespace {

// The section names of a 64-bit ELF file; empty when it is not one.
QStringList elfSections(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < qint64(sizeof(Elf64_Ehdr))) return {};
    const uchar* data = file.map(0, file.size());
    if (data == nullptr) return {};
    const auto size = static_cast<std::uint64_t>(file.size());
    Elf64_Ehdr header;
    std::memcpy(&header, data, sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
        header.e_shoff + std::uint64_t(header.e_shnum) * sizeof(Elf64_Shdr) > size || header.e_shstrndx >= header.e_shnum)
        return {};
    const auto section = [&](int index) {
        Elf64_Shdr entry;
        std::memcpy(&entry, data + header.e_shoff + std::uint64_t(index) * sizeof(Elf64_Shdr), sizeof entry);
        return entry;
    };
    const Elf64_Shdr names = section(header.e_shstrndx);
    QStringList result;
    for (int i = 0; i < header.e_shnum; ++i) {
        const std::uint64_t at = names.sh_offset + section(i).sh_name;
        if (at < size) result.append(QString::fromLatin1(reinterpret_cast<const char*>(data + at)));
    }
    return result;
}

class InstalledApplication : public norv::e2e::AppRun {
protected:
    void SetUp() override {
        AppRun::SetUp();
        ASSERT_TRUE(temp.isValid());
        prefix = temp.filePath(QStringLiteral("prefix"));
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        // A builder whose umask lets the group write: the installed modes must not follow it.
        install.setChildProcessModifier([] { ::umask(0002); });
        install.start(QStringLiteral(NORV_CMAKE_COMMAND),
                      {QStringLiteral("--install"), QStringLiteral(NORV_BINARY_DIR), QStringLiteral("--strip"),
                       QStringLiteral("--prefix"), prefix});
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
    // Only the shipped programs are installed, and the application carries no test switch.
    EXPECT_EQ(QDir(installed(QStringLiteral("bin"))).entryList(QDir::Files, QDir::Name),
              QStringList({QStringLiteral("NorvBridgeMac"), QStringLiteral("NorvMIDIHelper")}));
    QFile shipped(installed(QStringLiteral("bin/NorvBridgeMac")));
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    EXPECT_FALSE(shipped.readAll().contains("NORV_BLUEZ_FAKE_L2CAP"));
    for (const char* file : {"share/norv-bridge/NorvAppIcon.svg", "share/norv-bridge/BridgeRuntime/tools/run_bridge.py",
                             "share/norv-bridge/BridgeRuntime/tools/demo_session.json",
                             "share/norv-bridge/RemoteScript/manifest.json",
                             "share/icons/hicolor/scalable/apps/norv-bridge.svg",
                             "share/metainfo/org.norv.NorvBridge.metainfo.xml", "share/man/man1/NorvBridgeMac.1.gz",
                             "share/man/man1/NorvMIDIHelper.1.gz"})
        EXPECT_TRUE(QFile::exists(installed(QLatin1String(file)))) << file;
    QDirIterator stubs(installed(QStringLiteral("share/norv-bridge/BridgeRuntime/PythonRuntime")), {QStringLiteral("python3.13")},
                       QDir::Files, QDirIterator::Subdirectories);
    ASSERT_TRUE(stubs.hasNext()) << "the interpreter stub is installed";
    const QString interpreter = stubs.next();
    EXPECT_TRUE(QFileInfo(interpreter).isExecutable());
    QFile stub(interpreter);
    ASSERT_TRUE(stub.open(QIODevice::ReadOnly));
    EXPECT_TRUE(stub.readLine().startsWith("#!/usr/bin/python3"));
    // Stripped: no symbol table, no debug information.
    for (const QString& program : {installed(QStringLiteral("bin/NorvBridgeMac")),
                                   installed(QStringLiteral("bin/NorvMIDIHelper"))}) {
        const QStringList sections = elfSections(program);
        EXPECT_TRUE(sections.contains(QStringLiteral(".text"))) << program.toStdString();
        EXPECT_FALSE(sections.contains(QStringLiteral(".symtab"))) << program.toStdString();
        EXPECT_TRUE(sections.filter(QRegularExpression(QStringLiteral("^\\.debug"))).isEmpty()) << program.toStdString();
    }

    QFile entry(installed(QStringLiteral("share/applications/org.norv.NorvBridge.desktop")));
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

    connectsToTheDemoAndEndsOnSigterm(installed(QStringLiteral("bin/NorvBridgeMac")));
}

// Whatever the installer's umask and the build tree's modes: folders and programs 755, every
// other file 644, the prefix itself included.
TEST_F(InstalledApplication, EveryInstalledPathHasTheFixedMode) {
    const QStringList programs({installed(QStringLiteral("bin/NorvBridgeMac")), installed(QStringLiteral("bin/NorvMIDIHelper"))});
    const auto mode = [](const QString& path) {
        struct stat status {};
        EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &status), 0) << path.toStdString();
        return std::pair(status.st_mode & 07777, S_ISDIR(status.st_mode));
    };
    EXPECT_EQ(mode(prefix).first, 0755u);
    int files = 0;
    QDirIterator it(prefix, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const auto [bits, folder] = mode(path);
        const bool program = folder || programs.contains(path) || path.endsWith(QStringLiteral("/bin/python3.13"));
        EXPECT_EQ(bits, program ? 0755u : 0644u) << path.toStdString();
        files += folder ? 0 : 1;
    }
    EXPECT_GT(files, 10);
}

}  // namespace
