// The quick save's reading of a create reply, its tag parsing and its address cleaning.
#include <cstdint>
#include <cstdlib>

#include "quicksave/QuickSaveLogic.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::int64_t status = size > 0 ? 100 + data[0] * 2 : 200;
    QuickSaveLogic::outcome(text, status);
    for (const auto& tag : QuickSaveLogic::parseTags(text)) {
        if (tag.empty()) std::abort();
    }
    QuickSaveLogic::cleanedWebURL(text);
    return 0;
}
