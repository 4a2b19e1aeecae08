#include "ServiceFixture.h"

namespace {

class DevserviceLifecycle : public DevserviceProcess {};

TEST_F(DevserviceLifecycle, PrintsItsLoopbackAddressAndStopsCleanlyOnSigterm) {
    start();
    EXPECT_EQ(service_->base().rfind("http://127.0.0.1:", 0), 0u);
    const auto reply = get("/");
    EXPECT_EQ(reply.status, 303);
    EXPECT_EQ(reply.header("Location"), "/app");
    EXPECT_TRUE(std::filesystem::exists(dataDir() / "tolvar.sqlite3"));
    EXPECT_EQ(service_->stop(SIGTERM), 0);
    EXPECT_EQ(testsupport::connectLoopback(port()), -1) << "nothing listens after the stop";
    service_.reset();
}

}  // namespace
