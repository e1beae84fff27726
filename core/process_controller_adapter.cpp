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

void ProcessControllerAdapter::exportDiagnostics(const QString& destination, ExportCompletion done) {
    controller_.exportDiagnostics(destination, [done = std::move(done)](std::optional<DiagnosticsExportError> error) {
        if (error) done(error->message);
        else done(std::nullopt);
    });
}

}  // namespace norv
