#pragma once

#include <memory>

#include <unicode/brkiter.h>

namespace platform {

// A fresh iterator over extended grapheme clusters (user-perceived characters), locale-independent.
// Each caller gets its own, cloned from one made per thread, so nested walks do not disturb each
// other. Nothing only when ICU cannot make one (no break data); callers then count code points.
std::unique_ptr<icu::BreakIterator> characterIterator();

}  // namespace platform
