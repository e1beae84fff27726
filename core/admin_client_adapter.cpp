#include "core/admin_client_adapter.h"

namespace norv {

AdminClientAdapter::AdminClientAdapter(AdminChannelOptions options) : client_(std::move(options)) {}

void AdminClientAdapter::start(SnapshotHandler onSnapshot, BatchHandler onMidiBatch, StateHandler onState) {
    client_.start(std::move(onSnapshot), std::move(onMidiBatch), std::move(onState));
}

void AdminClientAdapter::send(const std::string& path, const nlohmann::json& args) {
    client_.send(QString::fromStdString(path), args);
}

void AdminClientAdapter::request(const std::string& path, const nlohmann::json& args, Completion completion) {
    client_.request(QString::fromStdString(path), args,
                    [completion = std::move(completion)](const std::optional<BridgeError>& error) {
                        if (error) completion(error->message());
                        else completion(std::nullopt);
                    });
}

}  // namespace norv
