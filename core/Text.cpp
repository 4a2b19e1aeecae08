#include "core/Text.h"

#include <unicode/locid.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <climits>

namespace core {

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

std::string validUTF8(std::string_view text) {
    if (isValidUTF8(text)) return std::string(text);
    std::string valid;
    const auto length = static_cast<int32_t>(std::min<std::size_t>(text.size(), INT32_MAX));
    for (int32_t index = 0; index < length;) {
        const int32_t start = index;
        UChar32 c;
        U8_NEXT(text.data(), index, length, c);
        if (c < 0) valid += "\xEF\xBF\xBD";
        else valid.append(text.data() + start, std::size_t(index - start));
    }
    return valid;
}

std::string leadingCharacters(std::string_view text, std::size_t count) {
    const std::string valid = validUTF8(text);
    const auto length = static_cast<int32_t>(std::min<std::size_t>(valid.size(), INT32_MAX));
    auto iterator = characterIterator();
    UErrorCode status = U_ZERO_ERROR;
    UText* walked = utext_openUTF8(nullptr, valid.data(), length, &status);
    int32_t end = 0;
    if (iterator && U_SUCCESS(status)) {
        iterator->setText(walked, status);
        end = iterator->first();
        // A UTF-8 UText's native indexes are byte offsets.
        for (std::size_t taken = 0; taken < count && U_SUCCESS(status); ++taken) {
            const int32_t next = iterator->next();
            if (next == icu::BreakIterator::DONE) break;
            end = next;
        }
    } else {
        // Without break data every code point counts as a character.
        for (std::size_t taken = 0; taken < count && end < length; ++taken) U8_FWD_1(valid.data(), end, length);
    }
    utext_close(walked);
    return valid.substr(0, std::size_t(end));
}

std::string asciiLowercased(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

}  // namespace core
