#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <thread>
#include <tuple>
#include <vector>

#include "driver/ControlCodes.h"
#include "driver/DeviceClient.h"
#include "driver/Protocol.h"
#include "driver/Service.h"
#include "tests/support/TempDir.h"

namespace kv::test {

/// An interceptor service on a temporary socket, served by a thread of the test,
/// and a second connection that reads back what it holds.
class ServiceRunner {
public:
    /// `authority`: the settings the service keeps (null: none);
    /// `loginAccounts`: the machine's login accounts it knows.
    explicit ServiceRunner(driver::IAuthority* authority = nullptr,
                           std::vector<uid_t> loginAccounts = {})
        : authority_(authority), loginAccounts_(std::move(loginAccounts)) {
        Start();
    }
    ~ServiceRunner() { Stop(); }

    void Start() {
        driver::ServiceOptions options = driver::OptionsFor(SocketPath(), dir_.File("state"));
        options.authority = authority_;
        options.loginAccounts = [accounts = loginAccounts_] { return accounts; };
        service_ = std::make_unique<driver::Service>(options);
        std::string error;
        if (!service_->Start(&error))
            ADD_FAILURE() << error;
        thread_ = std::thread([this] { service_->Run(); });
    }
    void Stop() {
        if (!service_)
            return;
        service_->RequestStop();
        thread_.join();
        service_.reset();
    }

    std::string SocketPath() const { return dir_.File("VEVUZ"); }
    driver::Service& Service() { return *service_; }

    driver::Reply Send(const driver::Request& request) const {
        driver::DeviceClient client;
        std::string error;
        driver::Reply reply;
        if (!client.Open(SocketPath(), &error, 5000) || !client.Transact(request, &reply, &error)) {
            ADD_FAILURE() << error;
        }
        return reply;
    }
    std::uint32_t Count() const { return Send(driver::MakeRequest(driver::code::kCount)).returned; }
    bool Active() const {
        return Send(driver::MakeRequest(driver::code::kGetActive)).returned == 1;
    }

    /// Every entry the service holds, in order.
    std::vector<driver::Entry> Entries() const {
        std::vector<driver::Entry> entries;
        const std::uint32_t count = Count();
        for (std::uint32_t i = 0; i < count; ++i) {
            driver::Request get = driver::MakeRequest(driver::code::kGetEntry);
            get.index = i;
            get.outputSize = driver::kMaxFrameBody;
            const driver::Reply reply = Send(get);
            driver::Entry e;
            e.dwOperation = driver::GetU32(reply.output, 0);
            std::size_t at = 4;
            for (std::string* text : {&e.FileMask, &e.ExcludeFiles, &e.Processes, &e.ExcludeProc}) {
                const std::size_t end = reply.output.find('\0', at);
                *text = reply.output.substr(at, end - at);
                at = end + 1;
            }
            entries.push_back(e);
        }
        return entries;
    }

    /// Every uid's table: uid -> (active, entries, origin number). Asked as
    /// root, as the tests run.
    std::map<uid_t, std::tuple<bool, std::uint32_t, std::uint32_t>> Tables() const {
        driver::Request list = driver::MakeRequest(driver::code::kGetTables);
        list.outputSize = driver::kMaxFrameBody;
        const driver::Reply reply = Send(list);
        std::map<uid_t, std::tuple<bool, std::uint32_t, std::uint32_t>> tables;
        for (std::size_t at = 0; at + 16 <= reply.output.size(); at += 16)
            tables[driver::GetU32(reply.output, at)] = {driver::GetU32(reply.output, at + 4) == 1,
                                                        driver::GetU32(reply.output, at + 8),
                                                        driver::GetU32(reply.output, at + 12)};
        return tables;
    }

private:
    driver::IAuthority* authority_ = nullptr;
    std::vector<uid_t> loginAccounts_;
    TempDir dir_;
    std::unique_ptr<driver::Service> service_;
    std::thread thread_;
};

}  // namespace kv::test
