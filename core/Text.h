#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <unicode/brkiter.h>

namespace core {

// A fresh iterator over extended grapheme clusters (user-perceived characters), locale-independent.
// Each caller gets its own, cloned from one made per thread, so nested walks do not disturb each
// other. Nothing only when ICU cannot make one (no break data); callers then count code points.
std::unique_ptr<icu::BreakIterator> characterIterator();

// Whether `text` is well-formed UTF-8: no overlong forms, surrogates or values past U+10FFFF.
bool isValidUTF8(std::string_view text);

// `text` with every ill-formed UTF-8 sequence replaced by U+FFFD.
std::string validUTF8(std::string_view text);

// The first `count` user-perceived characters of `text`, or all of it; ill-formed UTF-8 sequences
// count as U+FFFD, which the answer holds in their place.
std::string leadingCharacters(std::string_view text, std::size_t count);

// `text` with A–Z turned into a–z and every other byte kept: for hosts, schemes and window classes,
// which are compared without regard to case but are not natural-language text.
std::string asciiLowercased(std::string_view text);

}  // namespace core
