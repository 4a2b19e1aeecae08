// tolvar-pack-crx: wraps a browser extension's zip archive as a CRX3 file signed with an RSA key,
// the form the Chromium family installs from its external-extension folders.
//
//   tolvar-pack-crx KEYFILE ZIPFILE CRXFILE
//
// A CRX3 file is "Cr24", the format version 3 and the header's length (little-endian 32-bit
// numbers), a CrxFileHeader protocol buffer, then the zip archive unchanged. The header holds the
// public key (DER SubjectPublicKeyInfo) with an RSA PKCS#1 v1.5 SHA-256 signature, and the signed
// header data naming the extension id: the first 16 bytes of the key's SHA-256. The signature
// covers "CRX3 SignedData\0", the signed header data's length and bytes, and the archive.
// Build tool only: it never ships in the bundle.

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

namespace {

using Bytes = std::string;

std::optional<Bytes> readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes littleEndian32(std::uint32_t value) {
    Bytes out;
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
    return out;
}

Bytes varint(std::uint64_t value) {
    Bytes out;
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7f) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
    return out;
}

// A length-delimited protocol-buffer field.
Bytes bytesField(std::uint32_t number, const Bytes& value) {
    return varint((std::uint64_t{number} << 3) | 2) + varint(value.size()) + value;
}

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

Key readRsaKey(const char* path) {
    Key key(nullptr, EVP_PKEY_free);
    if (FILE* file = std::fopen(path, "r")) {
        key.reset(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
        std::fclose(file);
    }
    if (key && EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) key.reset();
    return key;
}

std::optional<Bytes> publicKeyDer(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key, &der);
    if (length <= 0) return std::nullopt;
    Bytes out(reinterpret_cast<char*>(der), static_cast<std::size_t>(length));
    OPENSSL_free(der);
    return out;
}

std::optional<Bytes> sha256(const Bytes& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr) != 1) return std::nullopt;
    return Bytes(reinterpret_cast<char*>(digest), length);
}

std::optional<Bytes> signSha256(EVP_PKEY* key, const Bytes& message) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    std::size_t length = 0;
    if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1) {
        return std::nullopt;
    }
    Bytes signature(length, '\0');
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
        return std::nullopt;
    }
    signature.resize(length);
    return signature;
}

std::optional<Bytes> crx3(EVP_PKEY* key, const Bytes& archive) {
    const auto publicKey = publicKeyDer(key);
    const auto keyHash = publicKey ? sha256(*publicKey) : std::nullopt;
    if (!keyHash) return std::nullopt;
    const Bytes signedData = bytesField(1, keyHash->substr(0, 16));  // SignedData.crx_id
    const Bytes signedPrefix = Bytes("CRX3 SignedData", 15) + '\0' + littleEndian32(signedData.size());
    const auto signature = signSha256(key, signedPrefix + signedData + archive);
    if (!signature) return std::nullopt;
    const Bytes proof = bytesField(1, *publicKey) + bytesField(2, *signature);  // AsymmetricKeyProof
    const Bytes header = bytesField(2, proof) + bytesField(10000, signedData);   // sha256_with_rsa, signed_header_data
    return Bytes("Cr24", 4) + littleEndian32(3) + littleEndian32(header.size()) + header + archive;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: tolvar-pack-crx KEYFILE ZIPFILE CRXFILE\n");
        return 2;
    }
    const Key key = readRsaKey(argv[1]);
    if (!key) {
        std::fprintf(stderr, "tolvar-pack-crx: %s is not a PEM RSA private key\n", argv[1]);
        return 1;
    }
    const auto archive = readFile(argv[2]);
    if (!archive || archive->size() < 4 || archive->compare(0, 4, "PK\3\4") != 0) {
        std::fprintf(stderr, "tolvar-pack-crx: %s is not a zip archive\n", argv[2]);
        return 1;
    }
    const auto crx = crx3(key.get(), *archive);
    if (!crx) {
        std::fprintf(stderr, "tolvar-pack-crx: signing failed\n");
        return 1;
    }
    const std::string partial = std::string(argv[3]) + ".partial";
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(crx->data(), static_cast<std::streamsize>(crx->size()));
    out.close();
    if (!out || std::rename(partial.c_str(), argv[3]) != 0) {
        std::fprintf(stderr, "tolvar-pack-crx: cannot write %s\n", argv[3]);
        std::remove(partial.c_str());
        return 1;
    }
    return 0;
}
