#include "ServiceFixture.h"

#include <random>

namespace {

std::string randomBytes(std::size_t size) {
    std::mt19937 generator(12345);
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(generator() & 0xFF);
    return bytes;
}

class DevserviceFiles : public DevserviceProcess {};

// The update tests download and verify a signed archive from here; this test checks the media types,
// that the feed is read on every request (so a test can swap in any document, valid or not), and that
// nothing outside the folders, hidden or below them is served, whatever the spelling.
TEST_F(DevserviceFiles, ServesItsFoldersFilesAndNothingElse) {
    const auto releases = folder("releases");
    const auto pages = folder("pages");
    const auto archive = randomBytes(700 * 1024 + 3);
    testsupport::writeFile(releases / "Tolvar-9.9.9.zip", archive);
    testsupport::writeFile(releases / "version.json", "{}");
    testsupport::writeFile(releases / ".hidden", "hidden");
    std::filesystem::create_directories(releases / "sub");
    testsupport::writeFile(releases / "sub" / "inner.zip", "inner");
    const std::string secret = "SECRET-CONTENT-42";
    testsupport::writeFile(folder_.path() / "secret.txt", secret);
    start({"--releases", releases.string(), "--pages", pages.string()});

    const auto archiveReply = get("/downloads/Tolvar-9.9.9.zip");
    EXPECT_EQ(archiveReply.header("Content-Type"), "application/zip");
    EXPECT_TRUE(archiveReply.body == archive) << "the archive differs from the file";
    const std::string broken = "{\"version\": 1, \"url\": ";
    testsupport::writeFile(releases / "version.json", broken);
    const auto feed = get("/downloads/version.json");
    EXPECT_EQ(feed.header("Content-Type"), "application/json");
    EXPECT_EQ(feed.body, broken);

    for (const std::string prefix : {"/downloads/", "/fixtures/"}) {
        for (const std::string tail :
             {"../secret.txt", "..%2Fsecret.txt", "%2e%2e%2fsecret.txt", "%2E%2E/secret.txt", "..%5Csecret.txt",
              "....//secret.txt", ".hidden", "%2ehidden", "sub/inner.zip", "sub%2Finner.zip", "", ".", "..", "%00",
              "version.json%00.zip", "/etc/passwd", "%2Fetc%2Fpasswd"}) {
            const std::string request = "GET " + prefix + tail + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
            const auto reply = testsupport::parseReply(testsupport::rawExchange(port(), request));
            // Refused (400, 404), or for ".." resolved to the site's root and redirected; never served.
            EXPECT_TRUE(reply.status == 400 || reply.status == 404 || reply.status == 303)
                << prefix << tail << " -> " << reply.status;
            EXPECT_EQ(reply.body.find(secret), std::string::npos) << prefix << tail;
            EXPECT_EQ(reply.body.find("hidden"), std::string::npos) << prefix << tail;
            EXPECT_EQ(reply.body.find("inner"), std::string::npos) << prefix << tail;
        }
    }
    std::filesystem::remove(releases / "version.json");
    EXPECT_EQ(get("/downloads/version.json").status, 404);
}

}  // namespace
