#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

// One record of the version feed: the offered build's version and download page, and optionally
// its release notes, minimum system version and update archive. Decoded from the feed, never encoded.
struct UpdateInfo {
    // The feed's member names; no other name is a key.
    enum class CodingKeys { version, url, notes, minimumSystemVersion, zip };
    static std::string_view stringValue(CodingKeys key);
    static std::optional<CodingKeys> codingKey(std::string_view name);

    UpdateInfo(std::string version, std::string url, std::optional<std::string> notes,
               std::optional<std::string> minimumSystemVersion, std::optional<std::string> zip);

    // Decodes the bytes of a feed: one UTF-8 JSON object whose "version" and "url" are strings and
    // whose "notes", "minimumSystemVersion" and "zip" are strings, null or missing. Other members
    // are ignored and nothing is coerced or trimmed. Any document that breaks these rules is
    // refused whole.
    static std::optional<UpdateInfo> decode(std::string_view bytes);

    friend bool operator==(const UpdateInfo&, const UpdateInfo&) = default;

    std::string version;
    std::string url;
    std::optional<std::string> notes;
    std::optional<std::string> minimumSystemVersion;
    std::optional<std::string> zip;
};
