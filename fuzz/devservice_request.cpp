// The stand-in service's reading of request input: batched calls, forms, cookies and tags.
#include <cstdint>
#include <cstdlib>

#include "devservice/Bookmarks.h"
#include "devservice/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace devservice;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto created = parseCreateCall(text);
    if (const auto* bookmark = std::get_if<NewBookmark>(&created)) {
        if (bookmark->title.size() > BookmarkLimits::maxTitleBytes) std::abort();
        bookmarkJson(Bookmark{.url = bookmark->url, .title = bookmark->title, .tags = bookmark->tags}).dump();
    }
    parseFetchMetadataCall(text);
    text::decodeForm(text);
    text::cookieValues(text, "tolvar_session");
    splitTagsField(text);
    return 0;
}
