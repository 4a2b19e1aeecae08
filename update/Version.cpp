#include "update/Version.h"

#include <algorithm>
#include <climits>
#include <limits>
#include <memory>

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "core/Text.h"

namespace {

bool isNumberCharacter(UChar32 c) { return u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) != U_NT_NONE; }

// One piece between full stops, read character by character.
class PartReader {
public:
    bool empty() const { return !sawCharacter_; }

    void add(const icu::UnicodeString& text, int32_t start, int32_t end) {
        sawCharacter_ = true;
        if (!isNumberCharacter(text.char32At(start))) return;  // filtered out
        keptAny_ = true;
        const char16_t first = text.charAt(start);
        if (end - start != 1 || first < u'0' || first > u'9') {
            readable_ = false;  // a number character that is not an ASCII digit spoils the reading
            return;
        }
        const std::int64_t digit = first - u'0';
        if (value_ > (std::numeric_limits<std::int64_t>::max() - digit) / 10) readable_ = false;
        else value_ = value_ * 10 + digit;
    }

    std::int64_t value() const { return keptAny_ && readable_ ? value_ : 0; }

private:
    bool sawCharacter_ = false;
    bool keptAny_ = false;
    bool readable_ = true;
    std::int64_t value_ = 0;
};

}  // namespace

std::vector<std::int64_t> versionParts(std::string_view version) {
    if (version.size() > static_cast<std::size_t>(INT32_MAX)) return {};
    const icu::UnicodeString text =
        icu::UnicodeString::fromUTF8(icu::StringPiece(version.data(), static_cast<int32_t>(version.size())));

    std::vector<std::int64_t> parts;
    PartReader piece;
    auto addCharacter = [&](int32_t start, int32_t end) {
        // Only a character that is exactly a full stop separates; one with a combining mark does not.
        if (end - start == 1 && text.charAt(start) == u'.') {
            if (!piece.empty()) parts.push_back(piece.value());
            piece = PartReader();
        } else {
            piece.add(text, start, end);
        }
    };

    if (auto iterator = core::characterIterator()) {
        iterator->setText(text);
        for (int32_t start = iterator->first(), end = iterator->next(); end != icu::BreakIterator::DONE;
             start = end, end = iterator->next())
            addCharacter(start, end);
    } else {
        // Without ICU's break data every code point stands for one character.
        for (int32_t start = 0; start < text.length(); start = text.moveIndex32(start, 1))
            addCharacter(start, text.moveIndex32(start, 1));
    }
    if (!piece.empty()) parts.push_back(piece.value());
    return parts;
}

bool isNewerVersion(std::string_view candidate, std::string_view current) {
    const auto mine = versionParts(candidate);
    const auto theirs = versionParts(current);
    const std::size_t count = std::max(mine.size(), theirs.size());
    for (std::size_t i = 0; i < count; ++i) {
        const std::int64_t a = i < mine.size() ? mine[i] : 0;
        const std::int64_t b = i < theirs.size() ? theirs[i] : 0;
        if (a != b) return a > b;
    }
    return false;
}
