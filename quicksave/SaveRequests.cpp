#include "quicksave/SaveRequests.h"

#include "core/ServiceEndpoints.h"

namespace SaveRequests {

const std::string createScript =
    "const r = await fetch('" + std::string(ServiceEndpoints::createPath) + "', {\n"
    "  method: 'POST', headers: {'content-type': 'application/json'}, credentials: 'include', body: body });\n"
    "return JSON.stringify({status: r.status, text: await r.text()});";

const std::string titleScript =
    "const r = await fetch('" + std::string(ServiceEndpoints::fetchMetadataPath) + "', {\n"
    "  method: 'POST', headers: {'content-type': 'application/json'}, credentials: 'include', body: body });\n"
    "const j = await r.json();\n"
    "return (j && j[0] && j[0].result && j[0].result.data && j[0].result.data.json && j[0].result.data.json.title) "
    "|| '';";

std::optional<std::string> titleRequestBody(const std::string& address) {
    try {
        const nlohmann::json body = {{"0", {{"json", {{"url", address}}}}}};
        return body.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

std::optional<Reply> decodeCreateReply(const platform::ScriptResult& result) {
    if (!result.succeeded || !result.value.is_string()) return std::nullopt;
    const auto reply = nlohmann::json::parse(result.value.get<std::string>(), nullptr, false);
    if (!reply.is_object()) return std::nullopt;
    const auto text = reply.find("text");
    const auto status = reply.find("status");
    if (text == reply.end() || !text->is_string()) return std::nullopt;
    if (status == reply.end() || !status->is_number_integer()) return std::nullopt;
    return Reply{status->get<std::int64_t>(), text->get<std::string>()};
}

std::vector<std::string> clippedControls(const platform::Rect& content,
                                         const std::vector<platform::ControlFrame>& controls) {
    const double left = content.x - 0.5;
    const double top = content.y - 0.5;
    const double right = content.x + content.width + 0.5;
    const double bottom = content.y + content.height + 0.5;
    std::vector<std::string> clipped;
    for (const auto& control : controls) {
        const auto& frame = control.frame;
        const bool inside = frame.x >= left && frame.y >= top && frame.x + frame.width <= right &&
                            frame.y + frame.height <= bottom;
        if (!inside) clipped.push_back(control.name);
    }
    return clipped;
}

}  // namespace SaveRequests
