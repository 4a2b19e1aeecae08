#include "platform/NetworkMonitor.h"

#include <gio/gio.h>

namespace platform {
namespace {

class GioNetworkWatch final : public NetworkWatch {
public:
    explicit GioNetworkWatch(std::function<void(bool)> changed)
        : changed_(std::move(changed)), monitor_(G_NETWORK_MONITOR(g_object_ref(g_network_monitor_get_default()))) {
        g_signal_connect(monitor_, "network-changed", G_CALLBACK(onChanged), this);
    }
    ~GioNetworkWatch() override {
        g_signal_handlers_disconnect_by_data(monitor_, this);
        g_object_unref(monitor_);
    }
    GioNetworkWatch(const GioNetworkWatch&) = delete;
    GioNetworkWatch& operator=(const GioNetworkWatch&) = delete;

private:
    static void onChanged(GNetworkMonitor*, gboolean available, gpointer self) {
        static_cast<GioNetworkWatch*>(self)->changed_(available != FALSE);
    }

    std::function<void(bool)> changed_;
    GNetworkMonitor* monitor_;
};

}  // namespace

std::unique_ptr<NetworkWatch> watchNetwork(std::function<void(bool available)> changed) {
    return std::make_unique<GioNetworkWatch>(std::move(changed));
}

}  // namespace platform
