#include "platform/Text.h"

#include <unicode/locid.h>
#include <unicode/utf8.h>

#include <climits>

namespace platform {

std::unique_ptr<icu::BreakIterator> characterIterator() {
    thread_local const std::unique_ptr<icu::BreakIterator> prototype = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) made.reset();
        return made;
    }();
    if (!prototype) return nullptr;
    return std::unique_ptr<icu::BreakIterator>(prototype->clone());
}

bool isValidUTF8(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(INT32_MAX)) return false;
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t index = 0; index < length;) {
        UChar32 c;
        U8_NEXT(text.data(), index, length, c);
        if (c < 0) return false;
    }
    return true;
}

std::string asciiLowercased(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

}  // namespace platform
