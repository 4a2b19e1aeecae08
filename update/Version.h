#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// The integer parts of a version text: the pieces between full stops (empty pieces dropped), each
// kept to its number characters (those whose first scalar has a Unicode numeric type) and read as a
// signed 64-bit decimal integer of ASCII digits. A piece that is left empty, keeps a number
// character other than an ASCII digit, or exceeds the 64-bit range reads as 0. Characters are
// extended grapheme clusters; text that is not valid UTF-8 reads with U+FFFD in place of each bad
// sequence.
std::vector<std::int64_t> versionParts(std::string_view version);

// Whether `candidate` is strictly newer than `current`: the first differing part decides, with
// missing parts read as 0. Equal versions are never newer. Never fails.
bool isNewerVersion(std::string_view candidate, std::string_view current);
