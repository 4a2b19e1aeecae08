#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

namespace core {

// The deepest nesting of arrays and objects accepted from outside: enough for any real document,
// and shallow enough that no hostile one can build a tree too deep to walk or destroy.
inline constexpr std::size_t deepestJSON = 512;

// Parses JSON text from outside (a reply, a feed, a file). Nothing when it is not valid UTF-8 JSON
// or nests deeper than `deepestJSON`; never throws.
std::optional<nlohmann::json> parseJSON(std::string_view text);

}  // namespace core
