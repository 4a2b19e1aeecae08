#include "devservice/Credentials.h"

#include <array>
#include <charconv>
#include <stdexcept>
#include <vector>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace devservice::credentials {
namespace {

constexpr int iterations = 100000;
constexpr std::size_t saltBytes = 16;
constexpr std::size_t hashBytes = 32;
constexpr std::string_view scheme = "pbkdf2-sha256";

std::string toHex(const unsigned char* data, std::size_t size) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0xF];
    }
    return out;
}

bool fromHex(std::string_view hex, std::vector<unsigned char>& out) {
    if (hex.size() % 2 != 0) return false;
    out.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        const auto result = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
        if (result.ec != std::errc() || result.ptr != hex.data() + i + 2) return false;
        out.push_back(static_cast<unsigned char>(value));
    }
    return true;
}

std::vector<unsigned char> randomBytes(std::size_t count) {
    std::vector<unsigned char> bytes(count);
    if (RAND_bytes(bytes.data(), static_cast<int>(count)) != 1) {
        throw std::runtime_error("the system could not supply random bytes");
    }
    return bytes;
}

bool derive(std::string_view password, const std::vector<unsigned char>& salt, int rounds,
            std::array<unsigned char, hashBytes>& out) {
    return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                             static_cast<int>(salt.size()), rounds, EVP_sha256(), static_cast<int>(out.size()),
                             out.data()) == 1;
}

}  // namespace

std::string hashPassword(std::string_view password) {
    const auto salt = randomBytes(saltBytes);
    std::array<unsigned char, hashBytes> hash{};
    if (!derive(password, salt, iterations, hash)) throw std::runtime_error("password hashing failed");
    return std::string(scheme) + "$" + std::to_string(iterations) + "$" + toHex(salt.data(), salt.size()) + "$" +
           toHex(hash.data(), hash.size());
}

bool verifyPassword(std::string_view password, std::string_view stored) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (parts.size() < 4) {
        const auto end = stored.find('$', start);
        parts.push_back(stored.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    if (parts.size() != 4 || parts[0] != scheme) return false;
    int rounds = 0;
    const auto parsed = std::from_chars(parts[1].data(), parts[1].data() + parts[1].size(), rounds);
    if (parsed.ec != std::errc() || parsed.ptr != parts[1].data() + parts[1].size() || rounds < 1 ||
        rounds > 10000000) {
        return false;
    }
    std::vector<unsigned char> salt;
    std::vector<unsigned char> expected;
    if (!fromHex(parts[2], salt) || !fromHex(parts[3], expected) || expected.size() != hashBytes) return false;
    std::array<unsigned char, hashBytes> actual{};
    if (!derive(password, salt, rounds, actual)) return false;
    return CRYPTO_memcmp(actual.data(), expected.data(), hashBytes) == 0;
}

std::string newSessionToken() {
    const auto bytes = randomBytes(32);
    return toHex(bytes.data(), bytes.size());
}

std::string sha256Hex(std::string_view text) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int size = 0;
    if (EVP_Digest(text.data(), text.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 failed");
    }
    return toHex(digest.data(), size);
}

}  // namespace devservice::credentials
