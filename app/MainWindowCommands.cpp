#include "app/MainWindowCommands.h"

#include "core/ServiceEndpoints.h"
#include "core/WebAddress.h"
#include "quicksave/QuickSaveLogic.h"
#include "platform/Url.h"

namespace MainWindowCommands {
double zoomedIn(double factor) { return factor + 0.1; }

double zoomedOut(double factor) { return std::max(factor - 0.1, minimumZoom); }

std::string newBookmarkURL(const ServiceAddress::Address& service) {
    return service.page(std::string(ServiceEndpoints::newBookmarkPath));
}

std::optional<std::string> clipboardBookmarkURL(const std::optional<std::string>& clipboard,
                                                const ServiceAddress::Address& service) {
    if (!clipboard) return std::nullopt;
    const std::string address(QuickSaveLogic::trimmedWhiteSpace(*clipboard));
    const auto parsed = platform::parseURL(address);
    // The scheme alone decides: the new-bookmark page shows whatever was copied, so an address
    // without a host reaches the page, where the user sees it and can correct it.
    if (!parsed || !core::isWebScheme(parsed->scheme)) return std::nullopt;
    return service.page(std::string(ServiceEndpoints::newBookmarkPath), {{"url", address}});
}

}  // namespace MainWindowCommands
