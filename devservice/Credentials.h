#pragma once

#include <string>
#include <string_view>

// Password hashing and session tokens (OpenSSL libcrypto).
namespace devservice::credentials {

// A salted PBKDF2-HMAC-SHA256 hash in the form "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>".
// Throws std::runtime_error when the system cannot supply random bytes.
std::string hashPassword(std::string_view password);

// True when `password` matches a hash made by hashPassword(); false for any malformed hash.
bool verifyPassword(std::string_view password, std::string_view stored);

// A fresh session token: 32 random bytes as 64 lower-case hex digits.
std::string newSessionToken();

// SHA-256 of the text as lower-case hex. Sessions are stored by the hash of their token, so the
// database alone does not let anyone sign in.
std::string sha256Hex(std::string_view text);

}  // namespace devservice::credentials
