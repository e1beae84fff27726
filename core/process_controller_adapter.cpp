#include "core/process_controller_adapter.h"

#include "core/bridge_tls_identity_store.h"

namespace norv {

ProcessControllerAdapter::ProcessControllerAdapter(std::shared_ptr<BridgeTLSIdentityStore> identityStore,
                                                   BridgeProcessController::Options options)
    : controller_(std::move(identityStore), std::move(options)) {
    QObject::connect(&controller_, &BridgeProcessController::changed, &controller_, [this] {
        if (changed_) changed_();
    });
}

}  // namespace norv
