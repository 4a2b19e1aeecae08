#include "platform/NetworkMonitor.h"

#include <gio/gio.h>

#include "platform/glib/GObjectPtr.h"

namespace platform {
namespace {

class GioNetworkWatch final : public NetworkWatch {
public:
    explicit GioNetworkWatch(std::function<void(bool)> changed)
        : changed_(std::move(changed)), monitor_(sharedGObject(g_network_monitor_get_default())) {
        g_signal_connect(monitor_.get(), "network-changed", G_CALLBACK(onChanged), this);
    }
    ~GioNetworkWatch() override { g_signal_handlers_disconnect_by_data(monitor_.get(), this); }
    GioNetworkWatch(const GioNetworkWatch&) = delete;
    GioNetworkWatch& operator=(const GioNetworkWatch&) = delete;

private:
    static void onChanged(GNetworkMonitor*, gboolean available, gpointer self) {
        static_cast<GioNetworkWatch*>(self)->changed_(available != FALSE);
    }

    std::function<void(bool)> changed_;
    const GObjectPtr<GNetworkMonitor> monitor_;
};

}  // namespace

std::unique_ptr<NetworkWatch> watchNetwork(std::function<void(bool available)> changed) {
    return std::make_unique<GioNetworkWatch>(std::move(changed));
}

}  // namespace platform
