#include "update/UpdateInfo.h"

#include <nlohmann/json.hpp>

#include "core/Json.h"

namespace {

// How one member reads: whether it leaves the document acceptable, and its text when it has one.
// A missing or null member is acceptable only when it is optional; any type but a string never is.
struct Member {
    bool acceptable;
    std::optional<std::string> value;
};

Member readMember(const nlohmann::json& object, UpdateInfo::CodingKeys key, bool required) {
    const auto found = object.find(UpdateInfo::stringValue(key));
    if (found == object.end() || found->is_null()) return {!required, std::nullopt};
    if (!found->is_string()) return {false, std::nullopt};
    return {true, found->get<std::string>()};
}

}  // namespace

std::string_view UpdateInfo::stringValue(CodingKeys key) {
    switch (key) {
        case CodingKeys::version: return "version";
        case CodingKeys::url: return "url";
        case CodingKeys::notes: return "notes";
        case CodingKeys::minimumSystemVersion: return "minimumSystemVersion";
        case CodingKeys::zip: return "zip";
    }
    return {};
}

std::optional<UpdateInfo::CodingKeys> UpdateInfo::codingKey(std::string_view name) {
    for (auto key : {CodingKeys::version, CodingKeys::url, CodingKeys::notes, CodingKeys::minimumSystemVersion,
                     CodingKeys::zip})
        if (stringValue(key) == name) return key;
    return std::nullopt;
}

UpdateInfo::UpdateInfo(std::string version, std::string url, std::optional<std::string> notes,
                       std::optional<std::string> minimumSystemVersion, std::optional<std::string> zip)
    : version(std::move(version)),
      url(std::move(url)),
      notes(std::move(notes)),
      minimumSystemVersion(std::move(minimumSystemVersion)),
      zip(std::move(zip)) {}

std::optional<UpdateInfo> UpdateInfo::decode(std::string_view bytes) {
    const auto document = core::parseJSON(bytes);
    if (!document || !document->is_object()) return std::nullopt;

    const auto version = readMember(*document, CodingKeys::version, true);
    const auto url = readMember(*document, CodingKeys::url, true);
    const auto notes = readMember(*document, CodingKeys::notes, false);
    const auto minimumSystemVersion = readMember(*document, CodingKeys::minimumSystemVersion, false);
    const auto zip = readMember(*document, CodingKeys::zip, false);
    for (const Member* member : {&version, &url, &notes, &minimumSystemVersion, &zip})
        if (!member->acceptable) return std::nullopt;

    return UpdateInfo(*version.value, *url.value, notes.value, minimumSystemVersion.value, zip.value);
}
