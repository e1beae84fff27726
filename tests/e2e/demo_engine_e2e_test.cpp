// The demo engine as the build ships it (share/norv-bridge/BridgeRuntime), started the way the
// launcher starts it: it holds no test hook, ignores what another user plants in a shared folder,
// outlasts idle connections and failing accepts, and ends with its standard input.
#include "core/admin_channel_client.h"
#include "core/bridge_runtime_files.h"
#include "model/admin_connection_state.h"
#include "model/admin_snapshot.h"
#include "tests/support/core/engine_test_support.h"
#include "tests/support/core/fake_engine_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <csignal>

#include <algorithm>
#include <optional>
#include <vector>

namespace norv {
namespace {

using namespace std::chrono_literals;
using test::waitUntil;

constexpr quint16 kAdminPort = 9315;
constexpr int kMaxConnections = 8;  // the demo engine's bound on connections served at once
const QString kRuntime = QStringLiteral(NORV_BINARY_DIR "/share/norv-bridge/BridgeRuntime");
const QByteArray kToken = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

// A TCP connection to 127.0.0.1:`port`, begun without waiting for it to complete; -1 on failure.
int connectTo(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool portServed(quint16 port) {
    const int fd = connectTo(port);
    pollfd entry{fd, POLLOUT, 0};
    bool served = fd >= 0 && ::poll(&entry, 1, 500) == 1;
    int error = 0;
    socklen_t length = sizeof error;
    served = served && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    if (fd >= 0) ::close(fd);
    return served;
}

// The shipped engine as a child with the launcher's command line, an environment of the test's
// own (HOME and TMPDIR in a private folder), its identity line on standard input and its output
// on a pipe this object owns.
class DemoEngine {
public:
    explicit DemoEngine(const QString& folder) {
        EXPECT_TRUE(waitUntil([] { return !portServed(kAdminPort); }, 30s))
            << "the admin port stays taken";
        const QString interpreter =
            kRuntime + QStringLiteral("/PythonRuntime/%1/bin/python3.13")
                           .arg(QLatin1String(BridgeRuntimeFiles::kProcessor));
        const QList<QByteArray> arguments{
            QFile::encodeName(interpreter),
            "-I",
            "-B",
            "-u",
            QFile::encodeName(kRuntime + QStringLiteral("/tools/run_bridge.py")),
            "--public-host",
            "127.0.0.1",
            "--public-port",
            QByteArray::number(test::freePort()),
            "--no-legacy-shared-midi",
            "--managed-stdin",
            "--tls-identity-stdin",
            "--require-device-approval",
            "--no-bonjour"};
        const QList<QByteArray> environment{
            "HOME=" + QFile::encodeName(folder + QStringLiteral("/home")),
            "TMPDIR=" + QFile::encodeName(folder + QStringLiteral("/tmp")),
            "PATH=/usr/bin:/bin:/usr/sbin:/sbin",
            "NORV_ADMIN_TOKEN=" + kToken,
            "PYTHONUNBUFFERED=1",
            "PYTHONDONTWRITEBYTECODE=1"};
        std::vector<char*> argv, envp;
        for (const QByteArray& argument : arguments)
            argv.push_back(const_cast<char*>(argument.constData()));
        for (const QByteArray& entry : environment)
            envp.push_back(const_cast<char*>(entry.constData()));
        argv.push_back(nullptr);
        envp.push_back(nullptr);

        int input[2], output[2];
        if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], 0);
        posix_spawn_file_actions_adddup2(&actions, output[1], 1);
        posix_spawn_file_actions_adddup2(&actions, output[1], 2);
        posix_spawn_file_actions_addclosefrom_np(&actions,
                                                 3);  // as the launcher: nothing else inherited
        const int spawned =
            ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
        ::close(output[1]);
        input_ = input[1];
        output_ = output[0];
        ::fcntl(output_, F_SETFL, O_NONBLOCK);
        if (spawned != 0) {
            pid_ = 0;
            return;
        }
        const QByteArray line = test::sharedIdentityLine() + '\n';
        EXPECT_EQ(::write(input_, line.constData(), size_t(line.size())), line.size());
    }

    ~DemoEngine() {
        closeInput();
        closeOutput();
        if (pid_ > 0 && !exitStatus()) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    pid_t pid() const { return pid_; }

    // Everything the engine wrote so far.
    const QByteArray& output() {
        char buffer[4096];
        ssize_t count = 0;
        while (output_ >= 0 && (count = ::read(output_, buffer, sizeof buffer)) > 0)
            outputText_.append(buffer, count);
        return outputText_;
    }
    bool waitForOutput(const QByteArray& text) {
        return waitUntil([&] { return output().contains(text); }, 20s);
    }
    bool listening() {
        return pid_ > 0 && waitForOutput("Admin channel listening on 127.0.0.1:9315");
    }

    void closeInput() {
        if (input_ >= 0) ::close(input_);
        input_ = -1;
    }
    void closeOutput() {
        if (output_ >= 0) ::close(output_);
        output_ = -1;
    }

    // The exit status once the engine has ended.
    std::optional<int> exitStatus() {
        int status = 0;
        if (!status_ && pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_)
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_;
    }

    // The engine's open descriptors and the distinct sockets among them.
    QStringList descriptors() const {
        return QDir(QStringLiteral("/proc/%1/fd").arg(pid_)).entryList(QDir::Files | QDir::System);
    }
    int sockets() const {
        QSet<QString> inodes;
        for (const QString& fd : descriptors()) {
            const QString target =
                QFile::symLinkTarget(QStringLiteral("/proc/%1/fd/%2").arg(pid_).arg(fd));
            if (target.contains(QStringLiteral("socket:"))) inodes.insert(target);
        }
        return int(inodes.size());
    }

private:
    pid_t pid_ = 0;
    int input_ = -1;
    int output_ = -1;
    QByteArray outputText_;
    std::optional<int> status_;
};

// An admin client with the engine's token and certificate, recording its snapshots and states.
struct ProperClient {
    ProperClient() : client(options()) {
        client.start([this](const AdminSnapshot& snapshot) { snapshots.push_back(snapshot); },
                     [](const MidiMonitorBatch&) {},
                     [this](const AdminConnectionState& state) { states.push_back(state); });
    }
    static AdminChannelClient::Options options() {
        AdminChannelClient::Options options;
        options.port = kAdminPort;
        options.token = QString::fromLatin1(kToken);
        options.certificatePEM = test::certificateOf(test::sharedIdentityLine());
        return options;
    }
    AdminChannelClient client;
    std::vector<AdminSnapshot> snapshots;
    std::vector<AdminConnectionState> states;
};

class DemoEngineRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(QDir().mkpath(folder.filePath(QStringLiteral("home"))));
        ASSERT_TRUE(QDir().mkpath(folder.filePath(QStringLiteral("tmp"))));
    }
    QTemporaryDir folder;
};

TEST_F(DemoEngineRun, ShippedRuntimeNamesNoTestHook) {
    const QList<QByteArray> hooks{"scenario",    "norv-fake-engine", "received.jsonl",
                                  "calls.jsonl", "record_calls",     "admin-port",
                                  "admin_port"};
    int files = 0;
    QDirIterator it(QStringLiteral(NORV_BINARY_DIR "/share/norv-bridge"),
                    QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        const QByteArray content = file.readAll();
        ++files;
        for (const QByteArray& hook : hooks)
            EXPECT_FALSE(content.contains(hook) || file.fileName().toUtf8().contains(hook))
                << file.fileName().toStdString() << " names " << hook.toStdString();
    }
    EXPECT_TRUE(QFile::exists(kRuntime + QStringLiteral("/tools/run_bridge.py")));
    EXPECT_GT(files, 3);
}

// Another user's scenario in the shared temporary folder, and one in the home folder, would
// move the admin port, empty the device list and record the hello with its token.
TEST_F(DemoEngineRun, PlantedScenarioChangesNothing) {
    const QString recording = folder.filePath(QStringLiteral("tmp/stolen.jsonl"));
    const nlohmann::json scenario = {
        {"admin_port", 0},
        {"record", recording.toStdString()},
        {"snapshots",
         {{{"bridge", {{"bridge_running", true}}}, {"devices", nlohmann::json::array()}}}}};
    for (const QString& place :
         {QStringLiteral("tmp/norv-fake-engine"), QStringLiteral("home/.norv-fake-engine")}) {
        ASSERT_TRUE(QDir().mkpath(folder.filePath(place)));
        QFile file(folder.filePath(place + QStringLiteral("/scenario.json")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(scenario.dump()));
    }

    DemoEngine engine(folder.path());
    ASSERT_TRUE(engine.listening()) << engine.output().toStdString();
    ProperClient proper;
    ASSERT_TRUE(waitUntil([&] { return !proper.snapshots.empty(); }, 20s))
        << engine.output().toStdString();
    EXPECT_EQ(proper.snapshots.front().devices.size(), 2u)
        << "the demo session, not the planted one";
    EXPECT_FALSE(QFile::exists(recording));
    QDirIterator written(folder.path(), {QStringLiteral("*.jsonl")}, QDir::Files,
                         QDirIterator::Subdirectories);
    EXPECT_FALSE(written.hasNext()) << written.next().toStdString();
}

// Idle connections beyond the engine's bound while it runs out of descriptors: the engine lives
// on, serves no more connections than its bound, drops the idle ones once their time to
// authenticate has passed, and then serves a proper client.
TEST_F(DemoEngineRun, IdleConnectionsAndFailingAcceptsLeaveTheEngineServing) {
    DemoEngine engine(folder.path());
    ASSERT_TRUE(engine.listening()) << engine.output().toStdString();

    // Out of descriptors: room for one connection at most, so accepting fails.
    rlimit saved{};
    ASSERT_EQ(::prlimit(engine.pid(), RLIMIT_NOFILE, nullptr, &saved), 0);
    const QStringList open = engine.descriptors();
    int lowestFree = 0;
    while (open.contains(QString::number(lowestFree))) ++lowestFree;
    const rlimit scarce{rlim_t(lowestFree + 2), saved.rlim_max};
    ASSERT_EQ(::prlimit(engine.pid(), RLIMIT_NOFILE, &scarce, nullptr), 0);

    std::vector<int> idle;
    for (int i = 0; i < kMaxConnections + 4; ++i) idle.push_back(connectTo(kAdminPort));
    EXPECT_TRUE(engine.waitForOutput("admin accept failed")) << engine.output().toStdString();
    test::settle(500ms);
    EXPECT_FALSE(engine.exitStatus()) << engine.output().toStdString();

    // Descriptors again: the engine takes connections up to its bound and no further.
    ASSERT_EQ(::prlimit(engine.pid(), RLIMIT_NOFILE, &saved, nullptr), 0);
    test::settle(1s);
    EXPECT_LE(engine.sockets(), 1 + kMaxConnections) << "the listener and at most the bound";

    ProperClient proper;
    const auto droppedIdle = [&] {
        int dropped = 0;
        for (const int fd : idle) {
            char byte = 0;
            if (fd >= 0 && ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0) ++dropped;
        }
        return dropped;
    };
    EXPECT_TRUE(waitUntil([&] { return droppedIdle() >= kMaxConnections; }, 20s)) << droppedIdle();
    EXPECT_TRUE(waitUntil([&] { return !proper.snapshots.empty(); }, 30s))
        << engine.output().toStdString();
    EXPECT_FALSE(engine.exitStatus());
    for (const int fd : idle)
        if (fd >= 0) ::close(fd);
}

// Another local user holding twice the engine's bound in connections that never authenticate
// does not keep the application out: its first connection authenticates within its own 3.0 s.
TEST_F(DemoEngineRun, IdleConnectionsDoNotKeepTheApplicationOut) {
    DemoEngine engine(folder.path());
    ASSERT_TRUE(engine.listening()) << engine.output().toStdString();
    std::vector<int> idle;
    for (int i = 0; i < 2 * kMaxConnections; ++i) idle.push_back(connectTo(kAdminPort));
    test::settle(200ms);  // the engine takes them in

    ProperClient proper;
    const auto settled = [&] {
        return std::find_if(proper.states.begin(), proper.states.end(), [](const auto& state) {
            return state != AdminConnectionState::connecting();
        });
    };
    ASSERT_TRUE(waitUntil([&] { return settled() != proper.states.end(); }, 10s));
    EXPECT_EQ(*settled(), AdminConnectionState::connected()) << settled()->reason();
    for (const int fd : idle)
        if (fd >= 0) ::close(fd);
}

// The application has gone: its end of the output pipe closed before its end of the input pipe.
TEST_F(DemoEngineRun, EndsWithItsInputEvenWithItsOutputClosed) {
    DemoEngine engine(folder.path());
    ASSERT_TRUE(engine.listening()) << engine.output().toStdString();
    engine.closeOutput();
    engine.closeInput();
    EXPECT_TRUE(waitUntil([&] { return engine.exitStatus().has_value(); }, 10s));
    EXPECT_EQ(engine.exitStatus(), 0);
}

}  // namespace
}  // namespace norv
