#pragma once
// Fakes for the store's seams: they record what the store asks and let a test answer.

#include "core/bridge_store.h"
#include "core/bridge_store_ports.h"
#include "core/dialog_service.h"

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

namespace norv::test {

struct SentFrame {
    std::string path;
    nlohmann::json args;
};

class FakeAdminClient : public AdminClientPort {
public:
    struct Request {
        std::string path;
        nlohmann::json args;
        Completion completion;
    };

    void start(SnapshotHandler onSnapshot, BatchHandler onMidiBatch, StateHandler onState) override {
        ++startCount;
        snapshotHandler = std::move(onSnapshot);
        batchHandler = std::move(onMidiBatch);
        stateHandler = std::move(onState);
    }
    void send(const std::string& path, const nlohmann::json& args) override { sent.push_back({path, args}); }
    void request(const std::string& path, const nlohmann::json& args, Completion completion) override {
        requests.push_back({path, args, std::move(completion)});
    }

    // Completes the oldest open request: success without a text, failure with one.
    void complete(const std::optional<QString>& error = std::nullopt) {
        Request request = std::move(requests.front());
        requests.pop_front();
        request.completion(error);
    }

    std::vector<SentFrame> sentOn(const std::string& path) const {
        std::vector<SentFrame> result;
        for (const SentFrame& frame : sent)
            if (frame.path == path) result.push_back(frame);
        return result;
    }

    int startCount = 0;
    SnapshotHandler snapshotHandler;
    BatchHandler batchHandler;
    StateHandler stateHandler;
    std::vector<SentFrame> sent;
    std::deque<Request> requests;
};

class FakeEngine : public EngineControlPort {
public:
    bool isRunning() const override { return running; }
    bool isPreparing() const override { return preparing; }
    void start(const BridgeLaunchConfiguration& configuration) override { starts.push_back(configuration); }
    void restart(const BridgeLaunchConfiguration& configuration) override { restarts.push_back(configuration); }
    void stop() override {
        ++terminations;
        preparing = false;
        setRunning(false);
    }
    void stopForQuit(std::function<void()> done) override {
        stop();
        ++quitStops;
        if (done) done();
    }
    void setChangeHandler(std::function<void()> handler) override { changed = std::move(handler); }
    std::optional<QString> lastError() const override { return failure; }
    QStringList logLines() const override { return log; }
    std::optional<QString> identityFingerprint() const override { return fingerprint; }
    void refreshLogs() override { ++logRefreshes; }
    void exportDiagnostics(const QString& destination, ExportCompletion done) override {
        exports.push_back({destination, std::move(done)});
    }

    void setRunning(bool value) {
        running = value;
        if (changed) changed();
    }

    bool running = false;
    bool preparing = false;
    int terminations = 0;
    int quitStops = 0;
    std::vector<BridgeLaunchConfiguration> starts;
    std::vector<BridgeLaunchConfiguration> restarts;
    std::function<void()> changed;
    std::optional<QString> failure;
    QStringList log;
    std::optional<QString> fingerprint;
    int logRefreshes = 0;
    struct Export {
        QString destination;
        ExportCompletion done;
    };
    std::vector<Export> exports;
};

class FakeBluetooth : public BluetoothPort {
public:
    struct Start {
        QString name;
        quint16 port;
        quint16 secureMidiPort;
    };
    void start(const QString& name, quint16 port, quint16 secureMidiPort) override {
        starts.push_back({name, port, secureMidiPort});
        running = true;
    }
    void stop() override {
        ++stops;
        running = false;
    }
    void setHandlers(std::function<void(const QString&)> status, std::function<void(const QString&)> event) override {
        onStatus = std::move(status);
        onEvent = std::move(event);
    }

    bool running = false;
    int stops = 0;
    std::vector<Start> starts;
    std::function<void(const QString&)> onStatus;
    std::function<void(const QString&)> onEvent;
};

// Answers confirmations from a script (true when it runs dry) and records every question.
class ScriptedDialogs : public DialogService {
public:
    bool confirm(const ConfirmationRequest& request) override {
        asked.push_back(request);
        if (answers.empty()) return true;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void alert(const QString& message, const QString& informativeText) override {
        alerts.emplace_back(message, informativeText);
    }
    std::optional<QString> choosePathToOpen(const FilePanelRequest& request) override {
        panels.push_back(request);
        return nextPath;
    }
    std::optional<QString> choosePathToSave(const FilePanelRequest& request) override {
        panels.push_back(request);
        return nextPath;
    }

    std::deque<bool> answers;
    std::vector<ConfirmationRequest> asked;
    std::vector<std::pair<QString, QString>> alerts;
    std::vector<FilePanelRequest> panels;
    std::optional<QString> nextPath;
};

// The window, page and app tests' world: a store over fake components with a settings file of
// its own and the start-up engine check pushed far out.
class FakeStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings = std::make_unique<QSettings>(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        auto adminPtr = std::make_unique<FakeAdminClient>();
        auto enginePtr = std::make_unique<FakeEngine>();
        admin = adminPtr.get();
        engine = enginePtr.get();
        BridgeStoreOptions options;
        options.startCheckDelay = std::chrono::hours(1);
        store = std::make_unique<BridgeStore>(std::move(adminPtr), std::move(enginePtr),
                                              std::make_unique<FakeBluetooth>(), dialogs, *settings, options);
    }

    // A connected channel reporting `snapshot`; `ownEngine` says whether the store's engine runs.
    void connectTo(bool ownEngine, const AdminSnapshot& snapshot) {
        engine->setRunning(ownEngine);
        admin->stateHandler(AdminConnectionState::connected());
        admin->snapshotHandler(snapshot);
    }

    QTemporaryDir dir;
    std::unique_ptr<QSettings> settings;
    ScriptedDialogs dialogs;
    FakeAdminClient* admin = nullptr;
    FakeEngine* engine = nullptr;
    std::unique_ptr<BridgeStore> store;
};

}  // namespace norv::test
