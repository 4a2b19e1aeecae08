#include "platform/Text.h"

#include <unicode/locid.h>

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

}  // namespace platform
