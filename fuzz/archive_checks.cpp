// The update archive's checks on bsdtar's listings: the names listing, the mtree listing of links,
// and the zip signature, each on the whole input.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "update/ArchiveChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    UpdateArchive::looksLikeZip(text);
    const bool escaping = UpdateArchive::listingHasEscapingName(text);
    const bool unsafe = UpdateArchive::listingHasUnsafeLink(text);
    // No line can make a later one pass: one escaping name or unsafe link more always counts.
    if (!UpdateArchive::listingHasEscapingName(text + "\n/etc/passwd\n")) std::abort();
    if (!UpdateArchive::listingHasUnsafeLink(text + "\n./Tolvar.app/x type=link link=../../x\n")) std::abort();
    // And a listing that was refused stays refused with a harmless line more.
    if (escaping && !UpdateArchive::listingHasEscapingName(text + "\nTolvar.app/bin\n")) std::abort();
    if (unsafe && !UpdateArchive::listingHasUnsafeLink(text + "\n./Tolvar.app/bin type=dir\n")) std::abort();
    return 0;
}
