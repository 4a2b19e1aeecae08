#include "tools/BundleSignature.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include "core/Io.h"

namespace bundlesig {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view manifestHeader = "TolvarCodeResources 1\n";
constexpr std::string_view signatureHeader = "TolvarCodeSignature 1";
// No file of a signed bundle's description is anywhere near this size.
constexpr std::uintmax_t largestSmallFile = 1 << 20;

struct EvpKeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct EvpMdContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, EvpKeyDeleter>;
using MdContextPtr = std::unique_ptr<EVP_MD_CTX, EvpMdContextDeleter>;

std::string hex(std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::optional<std::string> unhex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = value(text[i]), low = value(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
    }
    return out;
}

// Path bytes outside a plain set are written as %XX, so every path is one token without white space.
std::string escapePath(std::string_view path) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           std::strchr("._-+/@,=~", c) != nullptr;
        if (plain && c != 0) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

std::string modeText(mode_t mode) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04o", static_cast<unsigned>(mode & 07777));
    return buffer;
}

std::optional<std::string> sha256OfFile(const fs::path& path, std::uintmax_t expectedSize) {
    const core::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) return std::nullopt;
    MdContextPtr context(EVP_MD_CTX_new());
    bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
    std::array<char, 65536> buffer;
    std::uintmax_t total = 0;
    while (ok) {
        const auto got = core::readAll(fd.get(), buffer.data(), buffer.size());
        if (!got) ok = false;
        if (!got || *got == 0) break;
        total += *got;
        ok = EVP_DigestUpdate(context.get(), buffer.data(), *got) == 1;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!ok || total != expectedSize || EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return std::nullopt;
    return hex(std::string_view(reinterpret_cast<char*>(digest), length));
}

std::optional<std::string> readSmallFile(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uintmax_t>(info.st_size) > largestSmallFile) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return text.str();
}

// Whether a link at `linkPath` (relative to the bundle) pointing at `target` stays inside the
// bundle: the target is relative, its ".." components come first and never climb above the bundle,
// and no folder it names on the way is itself a link, whose own target could lead elsewhere.
bool linkStaysInside(const fs::path& bundle, const fs::path& linkPath, const std::string& target) {
    if (target.empty() || target.front() == '/') return false;
    std::vector<std::string> parts;
    for (const auto& part : linkPath.parent_path()) {
        if (!part.empty() && part != ".") parts.push_back(part.string());
    }
    bool named = false;
    std::vector<std::string> pieces;
    std::stringstream stream(target);
    for (std::string piece; std::getline(stream, piece, '/');) pieces.push_back(piece);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        if (piece.empty() || piece == ".") continue;
        if (piece == "..") {
            if (named || parts.empty()) return false;
            parts.pop_back();
            continue;
        }
        named = true;
        parts.push_back(piece);
        const bool last = i + 1 == pieces.size();
        if (!last) {
            fs::path walked = bundle;
            for (const auto& p : parts) walked /= p;
            struct stat info {};
            if (::lstat(walked.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) return false;
        }
    }
    return true;
}

struct Walk {
    std::vector<std::string> lines;
    std::string failure;
};

void walk(const fs::path& bundle, const fs::path& relative, Walk& result, bool topLevel) {
    const fs::path full = relative.empty() ? bundle : bundle / relative;
    std::error_code error;
    std::vector<fs::path> children;
    for (fs::directory_iterator it(full, error), end; !error && it != end; it.increment(error)) {
        children.push_back(it->path().filename());
    }
    if (error) {
        result.failure = "cannot read folder " + (relative.empty() ? std::string(".") : relative.string());
        return;
    }
    std::sort(children.begin(), children.end());
    for (const auto& name : children) {
        if (!result.failure.empty()) return;
        if (topLevel && name == signatureFolder) continue;
        const fs::path rel = relative / name;
        const fs::path path = bundle / rel;
        const std::string shown = escapePath(rel.string());
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
            result.failure = "cannot examine " + shown;
            return;
        }
        const mode_t mode = info.st_mode & 07777;
        if (S_ISDIR(info.st_mode)) {
            if (mode != 0755) {
                result.failure = "disallowed mode " + modeText(mode) + ": " + shown;
                return;
            }
            result.lines.push_back("folder " + shown + " 0755");
            walk(bundle, rel, result, false);
        } else if (S_ISREG(info.st_mode)) {
            if (mode != 0644 && mode != 0755) {
                result.failure = "disallowed mode " + modeText(mode) + ": " + shown;
                return;
            }
            if (info.st_nlink != 1) {
                result.failure = "hard link: " + shown;
                return;
            }
            const auto digest = sha256OfFile(path, static_cast<std::uintmax_t>(info.st_size));
            if (!digest) {
                result.failure = "cannot read " + shown;
                return;
            }
            result.lines.push_back("file " + shown + " " + modeText(mode) + " " + std::to_string(info.st_size) + " " +
                                   *digest);
        } else if (S_ISLNK(info.st_mode)) {
            std::error_code linkError;
            const auto target = fs::read_symlink(path, linkError);
            if (linkError || !linkStaysInside(bundle, rel, target.string())) {
                result.failure = "link leaves the bundle: " + shown;
                return;
            }
            result.lines.push_back("link " + shown + " " + escapePath(target.string()));
        } else {
            result.failure = "special file: " + shown;
            return;
        }
    }
}

// The path token of a manifest line ("kind path ...").
std::string pathOfLine(const std::string& line) {
    const auto first = line.find(' ');
    if (first == std::string::npos) return {};
    const auto second = line.find(' ', first + 1);
    return line.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
}

struct Signature {
    std::string publicKey;  // 32 raw bytes
    std::string signature;  // 64 raw bytes
};

std::optional<Signature> readSignature(const fs::path& bundle) {
    const auto text = readSmallFile(bundle / signatureFolder / signatureName);
    if (!text) return std::nullopt;
    std::stringstream stream(*text);
    std::string header, keyLine, signatureLine, rest;
    if (!std::getline(stream, header) || header != signatureHeader) return std::nullopt;
    if (!std::getline(stream, keyLine) || !keyLine.starts_with("PublicKey ")) return std::nullopt;
    if (!std::getline(stream, signatureLine) || !signatureLine.starts_with("Signature ")) return std::nullopt;
    if (std::getline(stream, rest) && !rest.empty()) return std::nullopt;
    auto key = unhex(std::string_view(keyLine).substr(10));
    auto signature = unhex(std::string_view(signatureLine).substr(10));
    if (!key || key->size() != 32 || !signature || signature->size() != 64) return std::nullopt;
    return Signature{*key, *signature};
}

KeyPtr readPrivateKey(const fs::path& keyFile, std::string& failure) {
    FILE* file = std::fopen(keyFile.c_str(), "rb");
    if (file == nullptr) {
        failure = "cannot open the key file " + keyFile.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    KeyPtr key(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
    std::fclose(file);
    if (!key || EVP_PKEY_id(key.get()) != EVP_PKEY_ED25519) {
        failure = "the key file does not hold an Ed25519 private key";
        return nullptr;
    }
    return key;
}

std::optional<std::string> rawPublicKey(EVP_PKEY* key) {
    std::string raw(32, '\0');
    std::size_t length = raw.size();
    if (EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char*>(raw.data()), &length) != 1 ||
        length != 32) {
        return std::nullopt;
    }
    return raw;
}

bool writeFile(const fs::path& path, std::string_view bytes, mode_t mode) {
    core::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!fd.valid()) return false;
    bool ok = ::fchmod(fd.get(), mode) == 0 && core::writeAll(fd.get(), bytes);
    ok = ::fsync(fd.get()) == 0 && ok;
    return fd.close() && ok;
}

}  // namespace

std::string printable(std::string_view text) {
    std::string out;
    for (unsigned char c : text) out += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
    return out;
}

std::string teamIdentifier(std::string_view rawPublicKey) {
    unsigned char digest[32];
    unsigned int length = 0;
    EVP_Digest(rawPublicKey.data(), rawPublicKey.size(), digest, &length, EVP_sha256(), nullptr);
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    for (unsigned i = 0; i < length; ++i) {
        buffer = (buffer << 8) | digest[i];
        bits += 8;
        while (bits >= 5) {
            out += alphabet[(buffer >> (bits - 5)) & 31];
            bits -= 5;
        }
    }
    if (bits > 0) out += alphabet[(buffer << (5 - bits)) & 31];
    return out;
}

Result manifest(const fs::path& bundle) {
    struct stat info {};
    if (::lstat(bundle.c_str(), &info) != 0) return Result::failure("no such bundle");
    if (!S_ISDIR(info.st_mode)) return Result::failure("not a bundle folder");
    if ((info.st_mode & 07777) != 0755) return Result::failure("disallowed mode " + modeText(info.st_mode) + ": .");
    Walk result;
    walk(bundle, {}, result, true);
    if (!result.failure.empty()) return Result::failure(result.failure);
    std::sort(result.lines.begin(), result.lines.end(),
              [](const std::string& a, const std::string& b) { return pathOfLine(a) < pathOfLine(b); });
    std::string text(manifestHeader);
    text += "folder . 0755\n";
    for (const auto& line : result.lines) text += line + "\n";
    return Result::success(std::move(text));
}

Result sign(const fs::path& bundle, const fs::path& keyFile) {
    std::string failure;
    KeyPtr key = readPrivateKey(keyFile, failure);
    if (!key) return Result::failure(failure);
    const auto publicKey = rawPublicKey(key.get());
    if (!publicKey) return Result::failure("cannot read the public half of the key");

    const fs::path folder = bundle / signatureFolder;
    std::error_code error;
    fs::remove_all(folder, error);
    if (error) return Result::failure("cannot remove the old signature: " + error.message());
    const auto described = manifest(bundle);
    if (!described.ok) return described;

    MdContextPtr context(EVP_MD_CTX_new());
    std::string signature(64, '\0');
    std::size_t length = signature.size();
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(described.text.data()), described.text.size()) != 1 ||
        length != 64) {
        return Result::failure("signing failed");
    }
    if (::mkdir(folder.c_str(), 0755) != 0 || ::chmod(folder.c_str(), 0755) != 0) {
        return Result::failure("cannot create " + folder.string() + ": " + std::strerror(errno));
    }
    const std::string signatureText = std::string(signatureHeader) + "\nPublicKey " + hex(*publicKey) +
                                      "\nSignature " + hex(signature) + "\n";
    if (!writeFile(folder / manifestName, described.text, 0644) ||
        !writeFile(folder / signatureName, signatureText, 0644)) {
        return Result::failure("cannot write the signature files");
    }
    return Result::success(teamIdentifier(*publicKey));
}

Result verify(const fs::path& bundle) {
    const fs::path folder = bundle / signatureFolder;
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) return Result::failure("code object is not signed at all");
    if (!S_ISDIR(info.st_mode) || (info.st_mode & 07777) != 0755) {
        return Result::failure("the signature folder is not a plain folder");
    }
    // The signature folder holds its two files and nothing else.
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const auto name = it->path().filename().string();
        if (name != manifestName && name != signatureName) {
            return Result::failure("a sealed resource is missing or invalid: file added: " +
                                   escapePath(std::string(signatureFolder) + "/" + name));
        }
        struct stat entry {};
        if (::lstat(it->path().c_str(), &entry) != 0 || !S_ISREG(entry.st_mode) ||
            (entry.st_mode & 07777) != 0644 || entry.st_nlink != 1) {
            return Result::failure("the signature files are not plain files");
        }
    }
    if (error) return Result::failure("cannot read the signature folder");
    const auto signature = readSignature(bundle);
    if (!signature) return Result::failure("code object is not signed at all");
    const auto stored = readSmallFile(folder / manifestName);
    if (!stored) return Result::failure("the sealed resource list is missing");

    KeyPtr key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                           reinterpret_cast<const unsigned char*>(signature->publicKey.data()),
                                           signature->publicKey.size()));
    MdContextPtr context(EVP_MD_CTX_new());
    // Only an explicit success answer counts: OpenSSL answers 0 for a bad signature and a negative
    // number for other errors.
    const bool verified =
        key && context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
        EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature->signature.data()),
                         signature->signature.size(), reinterpret_cast<const unsigned char*>(stored->data()),
                         stored->size()) == 1;
    if (!verified) return Result::failure("invalid signature (code or signature have been modified)");

    const auto current = manifest(bundle);
    if (!current.ok) return Result::failure("a sealed resource is missing or invalid: " + current.text);
    if (current.text != *stored) {
        // Name the first entry that differs.
        auto byPath = [](const std::string& text) {
            std::map<std::string, std::string> lines;
            std::stringstream stream(text);
            for (std::string line; std::getline(stream, line);) lines[pathOfLine(line)] = line;
            return lines;
        };
        const auto before = byPath(*stored), now = byPath(current.text);
        std::string what = "the bundle differs from its sealed resources";
        for (const auto& [path, line] : now) {
            const auto found = before.find(path);
            if (found == before.end()) {
                what = "file added: " + path;
                break;
            }
            if (found->second != line) {
                what = "file modified: " + path;
                break;
            }
        }
        if (what.starts_with("the bundle")) {
            for (const auto& [path, line] : before) {
                if (!now.count(path)) {
                    what = "file missing: " + path;
                    break;
                }
            }
        }
        return Result::failure("a sealed resource is missing or invalid: " + what);
    }
    return Result::success(teamIdentifier(signature->publicKey));
}

std::optional<std::string> claimedTeam(const fs::path& bundle) {
    const auto signature = readSignature(bundle);
    if (!signature) return std::nullopt;
    return teamIdentifier(signature->publicKey);
}

Result generateKey(const fs::path& keyFile) {
    EVP_PKEY* made = nullptr;
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
        EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr), EVP_PKEY_CTX_free);
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 || EVP_PKEY_keygen(context.get(), &made) != 1) {
        return Result::failure("key generation failed");
    }
    KeyPtr key(made);
    const int fd = ::open(keyFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return Result::failure("cannot create " + keyFile.string() + ": " + std::strerror(errno));
    FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        ::close(fd);
        return Result::failure("cannot write the key file");
    }
    const bool written = PEM_write_PrivateKey(file, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
    if (std::fclose(file) != 0 || !written) return Result::failure("cannot write the key file");
    const auto publicKey = rawPublicKey(key.get());
    return publicKey ? Result::success(teamIdentifier(*publicKey)) : Result::failure("cannot read the public key");
}

Result teamOfKey(const fs::path& keyFile) {
    std::string failure;
    KeyPtr key = readPrivateKey(keyFile, failure);
    if (!key) return Result::failure(failure);
    const auto publicKey = rawPublicKey(key.get());
    return publicKey ? Result::success(teamIdentifier(*publicKey)) : Result::failure("cannot read the public key");
}

std::optional<std::string> infoValue(const fs::path& bundle, const std::string& key) {
    const auto text = readSmallFile(bundle / "Info.json");
    if (!text) return std::nullopt;
    const auto info = nlohmann::json::parse(*text, nullptr, false);
    if (info.is_discarded() || !info.is_object()) return std::nullopt;
    const auto found = info.find(key);
    if (found == info.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

}  // namespace bundlesig
