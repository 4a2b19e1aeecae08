#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// An absolute address split into the parts the program's rules look at.
struct ParsedURL {
    std::string scheme;               // as written
    std::optional<std::string> host;  // as written; nothing when the address has no host
    std::string text;                 // the address as given
    std::optional<int> port;          // nothing when the address names none
    std::string path;                 // as written, still percent-encoded
    bool hasQueryOrFragment = false;
    bool hasUserInfo = false;
};

// Parses an absolute address (scheme required). Nothing for text that is not one.
std::optional<ParsedURL> parseURL(const std::string& text);

// `reference` resolved against `base` (an absolute reference stands on its own); nothing when no
// absolute address results.
std::optional<std::string> resolveURL(const std::string& base, const std::string& reference);

// Builds scheme://host/path?name=value&… with names and values percent-encoded as query items.
std::string buildURL(const std::string& scheme, const std::string& host, const std::string& path,
                     const std::vector<std::pair<std::string, std::string>>& queryItems = {});

// The decoded value of the first query item called `name`, if any.
std::optional<std::string> queryItemValue(const std::string& url, const std::string& name);

}  // namespace platform
