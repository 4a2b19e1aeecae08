#include "app/ServiceAddress.h"

#include <iostream>

#include "core/ServiceEndpoints.h"
#include "core/WebAddress.h"
#include "platform/Services.h"
#include "core/Text.h"
#include "platform/Url.h"

namespace ServiceAddress {

std::string Address::page(const std::string& path, const std::vector<std::pair<std::string, std::string>>& query) const {
    return platform::buildURL(scheme, authority, pathPrefix + path, query);
}

Address defaultAddress() {
    const std::string host(ServiceEndpoints::serviceHost);
    return {.scheme = "https", .authority = host, .host = host, .pathPrefix = ""};
}

Resolution resolve(const std::optional<std::string>& configured) {
    if (!configured) return {defaultAddress(), std::nullopt};
    auto refuse = [&](const std::string& why) {
        const std::string instead = "; using " + defaultAddress().page("") + " instead.";
        return Resolution{defaultAddress(), "The service address \"" + *configured + "\" " + why + instead, why};
    };
    const auto parsed = platform::parseURL(*configured);
    if (!parsed) return refuse("is not an address");
    if (!core::isWebAddress(parsed->scheme, parsed->host.has_value())) {
        return refuse(core::isWebScheme(parsed->scheme) ? "names no host" : "is not an http or https address");
    }
    if (parsed->hasQueryOrFragment || parsed->hasUserInfo) {
        return refuse("may hold only a scheme, a host, a port and a path");
    }
    Address address{.scheme = core::asciiLowercased(parsed->scheme),
                    .authority = core::asciiLowercased(*parsed->host),
                    .host = core::asciiLowercased(*parsed->host),
                    .pathPrefix = parsed->path};
    if (address.host.find(':') != std::string::npos) address.authority = "[" + address.authority + "]";
    if (parsed->port) address.authority += ":" + std::to_string(*parsed->port);
    while (address.pathPrefix.ends_with('/')) address.pathPrefix.pop_back();
    return {address, std::nullopt};
}

std::optional<std::string> chosenText(const std::optional<std::string>& environment,
                                      const std::optional<std::string>& stored) {
    if (environment) return environment;
    if (stored && !stored->empty()) return stored;
    return std::nullopt;
}

Address configured() {
    auto resolution = resolve(chosenText(platform::services().environmentValue(std::string(variable)),
                                         platform::services().readSetting(std::string(settingKey))));
    if (resolution.refusal) std::cerr << "Tolvar: " << *resolution.refusal << "\n";
    return resolution.address;
}

}  // namespace ServiceAddress
