#include "update/ArchiveChecks.h"

#include <optional>

namespace UpdateArchive {
namespace {

constexpr const char* archiveTool = "/usr/bin/bsdtar";
constexpr std::string_view blanks = " \t\r\v\f";

// The parts of a '/'-separated path, empty parts and "." left out unless `keepAll`.
std::vector<std::string_view> partsOf(std::string_view path, bool keepAll = false) {
    std::vector<std::string_view> parts;
    while (true) {
        const auto slash = path.find('/');
        const auto part = path.substr(0, slash);
        if (keepAll || (!part.empty() && part != ".")) parts.push_back(part);
        if (slash == std::string_view::npos) return parts;
        path.remove_prefix(slash + 1);
    }
}

// The lines of a listing, without their line ends.
std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

// Whether an entry name could land outside the folder it is unpacked into.
bool escapes(std::string_view name) {
    if (name.starts_with("/")) return true;
    for (const auto part : partsOf(name, true)) {
        if (part == "..") return true;
    }
    return false;
}

// An mtree listing's name or link target with its octal escapes ("\\040" for a space) decoded.
std::string mtreeDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool octal = text[i] == '\\' && i + 3 < text.size() &&
                           std::string_view("0123").find(text[i + 1]) != std::string_view::npos &&
                           text[i + 2] >= '0' && text[i + 2] <= '7' && text[i + 3] >= '0' && text[i + 3] <= '7';
        if (!octal) {
            out += text[i];
            continue;
        }
        out += static_cast<char>(((text[i + 1] - '0') << 6) | ((text[i + 2] - '0') << 3) | (text[i + 3] - '0'));
        i += 3;
    }
    return out;
}

// Whether a link named `name` (relative to the unpacking folder) with `target` points outside the
// top folder it lies in, or anywhere absolute.
bool linkLeavesItsFolder(const std::string& name, const std::string& target) {
    if (target.empty() || target.starts_with("/")) return true;
    std::vector<std::string_view> place = partsOf(name);
    if (place.empty()) return true;
    place.pop_back();  // the link itself
    const std::size_t floor = 1;  // never above the top folder (Tolvar.app)
    for (const auto step : partsOf(target)) {
        if (step != "..") {
            place.push_back(step);
        } else if (place.size() <= floor) {
            return true;
        } else {
            place.pop_back();
        }
    }
    return false;
}

// The words of an mtree line, separated by white space.
std::vector<std::string_view> wordsOf(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (true) {
        at = line.find_first_not_of(blanks, at);
        if (at == std::string_view::npos) return words;
        const auto end = line.find_first_of(blanks, at);
        words.push_back(line.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
        if (end == std::string_view::npos) return words;
        at = end;
    }
}

}  // namespace

bool looksLikeZip(std::string_view firstBytes) { return firstBytes.starts_with(std::string_view("PK\x03\x04", 4)); }

bool listingHasEscapingName(std::string_view names) {
    for (const auto name : linesOf(names)) {
        if (escapes(name)) return true;
    }
    return false;
}

bool listingHasUnsafeLink(std::string_view mtree) {
    for (const auto line : linesOf(mtree)) {
        if (line.empty() || line.starts_with("#") || line.starts_with("/")) continue;
        const auto words = wordsOf(line);
        if (words.empty()) continue;
        bool isLink = false;
        std::optional<std::string> target;
        for (std::size_t i = 1; i < words.size(); ++i) {
            if (words[i] == "type=link") isLink = true;
            if (words[i].starts_with("link=")) target = mtreeDecoded(words[i].substr(5));
        }
        if (isLink && (!target || linkLeavesItsFolder(mtreeDecoded(words[0]), *target))) return true;
    }
    return false;
}

Command listNames(const std::string& archive) { return {archiveTool, {"-t", "-f", archive}}; }

Command listLinks(const std::string& archive) {
    // Symbolic links and their targets, one entry a line with escaped names.
    return {archiveTool, {"-c", "-f", "-", "--format", "mtree", "--options", "!all,type,link", "@" + archive}};
}

Command streamAsTar(const std::string& archive) {
    return {archiveTool, {"-c", "-f", "-", "--format", "pax", "@" + archive}};
}

Command unpackStream(const std::string& folder) {
    return {archiveTool,
            {"-x", "-f", "-", "-C", folder, "-p", "--no-same-owner", "--no-acls", "--no-xattrs", "--no-fflags"}};
}

}  // namespace UpdateArchive
