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

    BridgeProcessController& controller() { return controller_; }

private:
    BridgeProcessController controller_;
    std::function<void()> changed_;
};

}  // namespace norv
