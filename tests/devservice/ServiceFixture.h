#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <iostream>
#include <memory>

#include "tests/support/DevService.h"

// Starts the real tolvar-devservice with a data folder of its own, and stops it with SIGTERM after
// each test, which must end it with status 0.
class DevserviceProcess : public ::testing::Test {
protected:
    static constexpr const char* demoToken = "test-session-token";

    std::filesystem::path dataDir() const { return folder_.path() / "data"; }

    std::filesystem::path folder(const std::string& name) const {
        const auto path = folder_.path() / name;
        std::filesystem::create_directories(path);
        return path;
    }

    void start(std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments = {"--data", dataDir().string(), "--demo-session", demoToken};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        service_ = std::make_unique<testsupport::ServiceProcess>(arguments);
    }

    // Stops the running service and expects a clean exit, with no failed GLib or libsoup check.
    void stopService() {
        if (!service_) return;
        EXPECT_EQ(service_->stop(SIGTERM), 0) << service_->log();
        EXPECT_EQ(service_->log().find("CRITICAL"), std::string::npos) << service_->log();
        service_.reset();
    }

    void TearDown() override {
        if (!service_) return;
        if (HasFailure()) std::cerr << "--- service log ---\n" << service_->log() << "-------------------\n";
        stopService();
    }

    int port() const { return service_->port(); }

    static testsupport::Headers cookie(const std::string& token) { return {{"Cookie", "tolvar_session=" + token}}; }

    testsupport::HttpReply get(const std::string& target, const testsupport::Headers& headers = {}) const {
        return testsupport::httpRequest(port(), "GET", target, headers);
    }

    testsupport::HttpReply postForm(const std::string& target, const std::string& body, testsupport::Headers headers = {}) const {
        headers.emplace_back("Content-Type", "application/x-www-form-urlencoded");
        return testsupport::httpRequest(port(), "POST", target, headers, body);
    }

    // A batched web-API call.
    testsupport::HttpReply api(const std::string& procedure, const std::string& body,
                           const std::optional<std::string>& token = std::string(demoToken),
                           const std::string& contentType = "application/json") const {
        testsupport::Headers headers = {{"Content-Type", contentType}};
        if (token) headers.emplace_back("Cookie", "tolvar_session=" + *token);
        return testsupport::httpRequest(port(), "POST", "/api/trpc/" + procedure + "?batch=1", headers, body);
    }

    static std::string createBody(const nlohmann::json& input) { return nlohmann::json{{"0", {{"json", input}}}}.dump(); }

    // The signed-in user's bookmarks through the web API, newest first.
    nlohmann::json bookmarks(const std::string& token = demoToken) const {
        const auto reply = get("/api/trpc/bookmarks.list?batch=1", cookie(token));
        EXPECT_EQ(reply.status, 200) << reply.body;
        const auto json = reply.json();
        if (json.is_discarded() || !json.is_array() || json.empty()) return nlohmann::json::array();
        return json[0]["result"]["data"]["json"]["bookmarks"];
    }

    // Signs in through the form; answers the session token, or "" when refused.
    std::string signIn(const std::string& name, const std::string& password) const {
        const auto reply = postForm("/app/signin", "name=" + name + "&password=" + password);
        for (const auto& value : reply.headerValues("Set-Cookie")) {
            const std::string prefix = "tolvar_session=";
            if (value.rfind(prefix, 0) == 0) return value.substr(prefix.size(), value.find(';') - prefix.size());
        }
        return "";
    }

    testsupport::TemporaryFolder folder_;
    std::unique_ptr<testsupport::ServiceProcess> service_;
};
