#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// Signing and checking Tolvar.app bundles.
//
// A signed bundle carries "_CodeSignature/CodeResources", a canonical manifest of every entry of the
// bundle except "_CodeSignature" itself, and "_CodeSignature/CodeSignature", which holds the Ed25519
// public key and the signature over the manifest's exact bytes. The team identifier is derived from
// the public key, so no file of the bundle can claim another team.
namespace bundlesig {

inline constexpr std::string_view signatureFolder = "_CodeSignature";
inline constexpr std::string_view manifestName = "CodeResources";
inline constexpr std::string_view signatureName = "CodeSignature";

// The outcome of an operation that may fail with a reason fit for a person to read.
struct Result {
    bool ok = false;
    std::string text;  // the manifest, the team, or the reason of the failure

    static Result success(std::string text = {}) { return {true, std::move(text)}; }
    static Result failure(std::string reason) { return {false, std::move(reason)}; }
};

// The canonical manifest of `bundle` as it is on disk now: one sorted line per entry with its kind,
// escaped path, mode, and the size and SHA-256 of files or the target of links. Fails on an entry
// that no bundle may hold: a special file, a hard link, a mode other than 0644/0755 for files and
// 0755 for folders, or a link that is absolute or leaves the bundle.
Result manifest(const std::filesystem::path& bundle);

// Writes "_CodeSignature" into `bundle`, signed with the Ed25519 private key in the PEM file `keyFile`.
// Answers the team identifier.
Result sign(const std::filesystem::path& bundle, const std::filesystem::path& keyFile);

// Checks the bundle deeply and strictly: the signature verifies over the stored manifest, and the
// manifest matches the bundle entry for entry. Answers the team identifier.
Result verify(const std::filesystem::path& bundle);

// The team identifier named by the bundle's signature file, without verifying anything; nothing when
// the bundle carries no readable signature.
std::optional<std::string> claimedTeam(const std::filesystem::path& bundle);

// Makes a new Ed25519 private key as a PEM file readable by its owner only. Answers its team.
Result generateKey(const std::filesystem::path& keyFile);

// The team identifier of the key in a PEM private key file.
Result teamOfKey(const std::filesystem::path& keyFile);

// SHA-256 of a raw 32-byte public key in upper-case base32 without padding (52 characters).
std::string teamIdentifier(std::string_view rawPublicKey);

// "CFBundleShortVersionString", "CFBundleIdentifier" or "CFBundleExecutable" of the bundle's
// Info.json, when it is a regular file holding a JSON object with that text member.
std::optional<std::string> infoValue(const std::filesystem::path& bundle, const std::string& key);

// `text` with every control character and every byte that is not printable ASCII replaced by "?", so
// a value read from a bundle cannot start a line of its own in a tool's output.
std::string printable(std::string_view text);

}  // namespace bundlesig
