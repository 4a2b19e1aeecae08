#include "core/WebAddress.h"

#include <algorithm>

namespace core {

bool isWebScheme(std::string_view scheme) {
    auto sameLetters = [scheme](std::string_view lower) {
        return std::ranges::equal(scheme, lower, [](char written, char expected) {
            return (written >= 'A' && written <= 'Z' ? char(written - 'A' + 'a') : written) == expected;
        });
    };
    return sameLetters("http") || sameLetters("https");
}

bool isWebAddress(std::string_view scheme, bool namesHost) { return namesHost && isWebScheme(scheme); }

}  // namespace core
