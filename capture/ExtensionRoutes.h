#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where a bundle keeps the browser extension, and the files that make each browser install it for
// one user. Decides only; the installer does the writing.
namespace capture {

// The bundle's share/browser-extension folder: "unpacked/", "tolvar-capture.crx" (CRX3, for the
// Chromium family), "capture@tolvar.app.xpi" (unsigned, for Firefox's system scope) and, in a
// release that has one, "signed/capture@tolvar.app.xpi" (signed by Mozilla, for a user's profile).
std::filesystem::path bundledExtensionFolder(const std::filesystem::path& bundle);
std::filesystem::path bundledUnpackedExtension(const std::filesystem::path& bundle);
std::filesystem::path bundledCrx(const std::filesystem::path& bundle);
std::filesystem::path bundledSignedXpi(const std::filesystem::path& bundle);

// The "version" of an extension manifest; nothing when the text is not a manifest with one.
std::optional<std::string> extensionVersion(std::string_view manifestText);

// The text of a Chromium external-extension entry: install `crx`, which holds `version`.
std::string externalCrxEntry(const std::filesystem::path& crx, std::string_view version);

// A file that tells a browser to install the extension: where it goes and its text.
struct ExtensionEntry {
    std::string browserKey;
    std::filesystem::path file;
    std::string text;
};
// For every Chromium-family browser, `configHome`/<browser folder>/External Extensions/<id>.json
// naming `crx` and `version`: each browser installs it, enabled, at its next start.
std::vector<ExtensionEntry> perUserExternalExtensions(const std::filesystem::path& crx, std::string_view version,
                                                      const std::filesystem::path& configHome);

// Where a signed add-on goes in the user's Firefox extension folder (every profile finds it there).
std::filesystem::path firefoxUserExtensionFile(const std::filesystem::path& home);

}  // namespace capture
