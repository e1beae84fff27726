#pragma once
// The store's admin seam over the real admin channel client.

#include "core/admin_channel_client.h"
#include "core/bridge_store_ports.h"

namespace norv {

class AdminClientAdapter : public AdminClientPort {
public:
    explicit AdminClientAdapter(AdminChannelOptions options = {});

    void start(SnapshotHandler onSnapshot, BatchHandler onMidiBatch, StateHandler onState) override;
    void send(const std::string& path, const nlohmann::json& args) override;
    void request(const std::string& path, const nlohmann::json& args, Completion completion) override;

private:
    AdminChannelClient client_;
};

}  // namespace norv
