#include "update/Version.h"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {
constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
}

TEST(UpdateVersionParts, ReadsPiecesAsTheirNumberCharacters) {
    const struct {
        std::string version;
        std::vector<std::int64_t> parts;
    } cases[] = {
        {"1.2.3", {1, 2, 3}},
        {"2.0-beta", {2, 0}},
        {"1.2.3-beta4", {1, 2, 34}},
        {"ver1.2", {1, 2}},
        {"1..2", {1, 2}},
        {".1", {1}},
        {"", {}},
        {"abc", {0}},
        {"1.abc.3", {1, 0, 3}},
        {"1 2", {12}},
        {"-5.+6", {5, 6}},
        {"1.3\u00BD", {1, 0}},       // a fraction survives the filter and spoils the reading
        {"\u00B2", {0}},             // superscript two
        {"\u0661.\u0662", {0, 0}},   // Arabic-Indic digits are kept but are not ASCII digits
        {"1\u0301.2", {0, 2}},       // a digit with a combining mark is one character, not an ASCII digit
        {"1.\u03012", {12}},         // a full stop with a combining mark does not separate
        {"9223372036854775807", {largest}},
        {"9223372036854775808", {0}},
        {"00000000000000000001", {1}},   // twenty digits whose value fits
        {"1.2\xff" "3", {1, 23}},        // ill-formed UTF-8 reads as U+FFFD, which is no number
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        EXPECT_EQ(versionParts(c.version), c.parts);
    }
}

TEST(UpdateIsNewerVersion, ComparesPartByPartWithZerosForMissingParts) {
    const struct {
        std::string candidate;
        std::string current;
        bool newer;
    } cases[] = {
        {"1.10", "1.9", true},
        {"1.9", "1.10", false},
        {"1.2.0", "1.2", false},
        {"1.2.1", "1.2", true},
        {"1.2.0.0.1", "1.2", true},
        {"1.2.3-beta4", "1.2.33", true},
        {"2.0-beta", "2.0", false},
        {"ver1.2", "1.1", true},
        {"1..2", "1.2", false},
        {"1.3\u00BD", "1.0", false},
        {"1.1", "1.3\u00BD", true},
        {"1.12345678901234567890", "1.0", false},
        {"1.1", "1.12345678901234567890", true},
        {"9223372036854775808", "1", false},
        {"", "", false},
        {"0.0.1", "", true},
        {"2", "1.9.9.9", true},
        {"0.0.0.1", "0", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.candidate + " than " + c.current);
        EXPECT_EQ(isNewerVersion(c.candidate, c.current), c.newer);
    }
}
