#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "driver/DeviceClient.h"
#include "driver/Service.h"
#include "tests/support/TempDir.h"

namespace kv::driver::test {

/// A service on a temporary socket, served by a thread of the test.
class ServiceFixture : public ::testing::Test {
protected:
    void SetUp() override { StartService(); }
    void TearDown() override { StopService(); }

    /// The options the service starts with.
    virtual ServiceOptions Options() { return OptionsFor(SocketPath(), StatePath()); }

    void StartService() {
        service_ = std::make_unique<Service>(Options());
        std::string error;
        ASSERT_TRUE(service_->Start(&error)) << error;
        thread_ = std::thread([this] { service_->Run(); });
    }
    void StopService() {
        if (!service_)
            return;
        service_->RequestStop();
        if (thread_.joinable())
            thread_.join();
        service_.reset();
    }

    std::string SocketPath() const { return dir_.File("VEVUZ"); }
    std::string StatePath() const { return dir_.File("state"); }

    /// A new connection to the service.
    std::unique_ptr<DeviceClient> Connect() {
        auto client = std::make_unique<DeviceClient>();
        std::string error;
        EXPECT_TRUE(client->Open(SocketPath(), &error, 5000)) << error;
        return client;
    }

    /// Sends a request on `client`; the exchange itself must work.
    static Reply Send(DeviceClient& client, const Request& request) {
        Reply reply;
        std::string error;
        EXPECT_TRUE(client.Transact(request, &reply, &error)) << error;
        return reply;
    }
    static Reply Send(DeviceClient& client, std::uint32_t code) {
        return Send(client, MakeRequest(code));
    }
    static Request Add(const std::string& fileMask, std::uint32_t mask = 0x1E7830,
                       const std::string& excludeProc = "kv") {
        Request add = MakeRequest(code::kAddEntry);
        add.record.dwOperation = mask;
        add.record.FileMask = fileMask;
        add.record.ExcludeFiles = "ExcludeFiles";
        add.record.Processes = "*";
        add.record.ExcludeProc = excludeProc;
        return add;
    }

    kv::test::TempDir dir_;
    std::unique_ptr<Service> service_;
    std::thread thread_;
};

}  // namespace kv::driver::test
