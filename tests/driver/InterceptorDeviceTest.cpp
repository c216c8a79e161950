#include <unistd.h>

#include <cstdlib>

#include "platform/InterceptorDevice.h"
#include "tests/driver/ServiceFixture.h"

namespace kv::driver::test {
namespace {

using kv::platform::InterceptorDevice;

class InterceptorDeviceTest : public ServiceFixture {};

TEST_F(InterceptorDeviceTest, SendsTheProgramsRequests) {
    InterceptorDevice device;
    ASSERT_TRUE(device.Open(SocketPath())) << device.LastError();
    kv::platform::EntryRecordTexts record;
    record.dwOperation = 0x400;
    record.FileMask = "*kv.dat";
    record.ExcludeFiles = "ExcludeFiles";
    record.Processes = "*";
    record.ExcludeProc = "kv";
    std::uint32_t returned = 99;
    EXPECT_TRUE(device.Request(code::kAddEntry, std::nullopt, &record, 0, &returned));
    EXPECT_EQ(returned, 0u);
    EXPECT_TRUE(device.Request(code::kCount, std::nullopt, nullptr, 4, &returned));
    EXPECT_EQ(returned, 1u);
    EXPECT_TRUE(device.Request(code::kActivate, std::string(), nullptr, 0, &returned));

    record.FileMask.reset();
    EXPECT_FALSE(device.Request(code::kAddEntry, std::nullopt, &record, 0, &returned))
        << "the service refuses an entry without FileMask";
    EXPECT_TRUE(device.IsOpen()) << "a refusal keeps the device open";
    EXPECT_TRUE(device.Request(code::kCount, std::nullopt, nullptr, 0, &returned));
    EXPECT_EQ(returned, 1u);
}

TEST_F(InterceptorDeviceTest, AnAbsentServiceFailsEveryRequest) {
    StopService();
    InterceptorDevice device;
    EXPECT_FALSE(device.Open(SocketPath()));
    EXPECT_FALSE(device.LastError().empty());
    std::uint32_t returned = 99;
    EXPECT_FALSE(device.Request(code::kCount, std::nullopt, nullptr, 4, &returned));
    EXPECT_EQ(returned, 0u);
}

TEST_F(InterceptorDeviceTest, TheServiceGoingAwayFailsLaterRequests) {
    InterceptorDevice device;
    ASSERT_TRUE(device.Open(SocketPath()));
    StopService();
    std::uint32_t returned = 99;
    EXPECT_FALSE(device.Request(code::kCount, std::nullopt, nullptr, 0, &returned));
    EXPECT_FALSE(device.IsOpen());
}

TEST(InterceptorDevicePathTest, TheEnvironmentChoosesTheDevice) {
    const char* old = std::getenv("KESTRAVA_DEVICE");
    const std::string saved = old ? old : "";
    ::setenv("KESTRAVA_DEVICE", "/tmp/elsewhere/VEVUZ", 1);
    EXPECT_EQ(InterceptorDevice::DefaultPath(), "/tmp/elsewhere/VEVUZ");
    ::unsetenv("KESTRAVA_DEVICE");
    // One service for the machine, whoever asks and whatever their runtime folder.
    ::setenv("XDG_RUNTIME_DIR", "/tmp/runtime", 1);
    EXPECT_EQ(InterceptorDevice::DefaultPath(), "/run/kestrava/VEVUZ");
    if (old)
        ::setenv("KESTRAVA_DEVICE", saved.c_str(), 1);
}

}  // namespace
}  // namespace kv::driver::test
