#pragma once
// The store's engine seam over the real engine supervisor.

#include "core/bridge_process_controller.h"
#include "core/bridge_store_ports.h"

#include <functional>
#include <memory>

namespace norv {

class BridgeTLSIdentityStore;

class ProcessControllerAdapter : public EngineControlPort {
public:
    ProcessControllerAdapter(std::shared_ptr<BridgeTLSIdentityStore> identityStore,
                             BridgeProcessController::Options options = {});

    bool isRunning() const override { return controller_.isRunning(); }
    bool isPreparing() const override { return controller_.isPreparing(); }
    void start(const BridgeLaunchConfiguration& configuration) override { controller_.start(configuration); }
    void restart(const BridgeLaunchConfiguration& configuration) override { controller_.restart(configuration); }
    void stop() override { controller_.stop(); }
    void stopForQuit(std::function<void()> done) override { controller_.stopForQuit(std::move(done)); }
    void setChangeHandler(std::function<void()> handler) override { changed_ = std::move(handler); }
    std::optional<QString> lastError() const override { return controller_.lastError(); }
    QStringList logLines() const override { return controller_.logLines(); }
    std::optional<QString> identityFingerprint() const override { return controller_.identityFingerprint(); }
    void refreshLogs() override { controller_.refreshLogs(); }
    void exportDiagnostics(const QString& destination, ExportCompletion done) override;

    // The supervisor itself, for tests that watch its process.
    BridgeProcessController& controller() { return controller_; }

private:
    BridgeProcessController controller_;
    std::function<void()> changed_;
};

}  // namespace norv
