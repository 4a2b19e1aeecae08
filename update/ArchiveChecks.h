#pragma once

#include <string>
#include <string_view>
#include <vector>

// What an update archive must pass before anything of it is unpacked, and how it is unpacked: pure
// functions on the archive's first bytes and on bsdtar's listings of it, so that they can be tested
// and fuzzed without a process. SelfUpdate runs the listings and the unpacking.
namespace UpdateArchive {

// bsdtar reads many formats; an update is a zip archive and nothing else: its first four bytes are
// a local file header's signature.
bool looksLikeZip(std::string_view firstBytes);

// Whether a listing of entry names ("bsdtar -t", one a line) holds one that is absolute or climbs
// out of the folder it is unpacked into with "..".
bool listingHasEscapingName(std::string_view names);

// Whether an mtree listing (bsdtar --format mtree, names and targets with octal escapes) holds a
// symbolic link with no target, or one whose target is absolute or climbs out of the top folder the
// link lies in (Tolvar.app): writing or reading through it would reach files the update does not own.
bool listingHasUnsafeLink(std::string_view mtree);

struct Command {
    std::string program;
    std::vector<std::string> arguments;
};

// The listings the checks above read.
Command listNames(const std::string& archive);
Command listLinks(const std::string& archive);

// The capped unpacking. A few kilobytes of zip can expand to any size, so the first command reads
// the zip and writes its entries as a tar stream, whose length is the unpacked contents plus 512
// bytes or so per entry; the second unpacks that stream into `folder`; the caller counts the bytes
// between them and cuts both off past its limit, before the disk fills. The modes are taken from the
// archive as they are (no umask), so the signature check sees exactly what was shipped; ownership,
// ACLs, attributes and flags are not restored.
Command streamAsTar(const std::string& archive);
Command unpackStream(const std::string& folder);

}  // namespace UpdateArchive
