#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "driver/Protocol.h"
#include "tests/support/TempDir.h"

namespace kv::protection_test {

/// The protected user and another one, as unprivileged as can be.
inline constexpr uid_t kUser = 65534;
inline constexpr uid_t kOther = 65533;

struct Outcome {
    int exit = -1;
    std::string output;  ///< stdout and stderr together
    bool Denied() const {
        return exit != 0 && output.find("Permission denied") != std::string::npos;
    }
    bool Absent() const {
        return exit != 0 && output.find("No such file or directory") != std::string::npos;
    }
};

/// Runs `command` with /bin/sh as `uid` (setpriv, no supplementary groups).
Outcome RunAs(uid_t uid, const std::string& command, const std::vector<std::string>& env = {});

/// The protection mounts (type fuse.kestrava) at or below `folder`.
std::vector<std::string> MountsUnder(const std::string& folder);

/// A built kvvxd serving a socket in a temporary folder (readable by every
/// uid), with a work folder beside it. TearDown stops the service and fails
/// when a mount of ours is left.
class ProtectionTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /// Starts kvvxd (again); false when it does not print "ready".
    bool StartService();
    /// Ends kvvxd with `signal` and waits for it.
    void StopService(int signal);
    /// Waits until no protection mount is left under the work folder.
    bool WaitForNoMounts(int milliseconds = 5000);

    /// Replaces the table of `uid` with `entries` and activates it.
    void Load(uid_t uid, const std::vector<driver::Entry>& entries);
    /// Sends one request for the table of `uid`; its success.
    bool Send(uid_t uid, std::uint32_t code);

    /// An entry as the compiler writes it, with the program itself excluded.
    static driver::Entry Rule(std::uint32_t mask, const std::string& fileMask,
                              const std::string& processes = "*",
                              const std::string& excludeProc = "kv",
                              const std::string& excludeFiles = "ExcludeFiles");

    /// A path in the work folder.
    std::string Work(const std::string& name) const { return work_ + "/" + name; }
    /// Makes a folder and its files, open to everyone.
    void MakeFolder(const std::string& folder, const std::vector<std::string>& files);

    kv::test::TempDir dir_;
    /// The service's executable and more arguments for the next StartService.
    std::string serviceExe_ = KVVXD_PATH;
    std::vector<std::string> serviceArgs_;
    /// The service's descriptor limit (soft and hard); 0: the test's own.
    unsigned long serviceDescriptors_ = 0;
    /// Where the service's log lines go; empty: nowhere.
    std::string serviceLog_;
    std::string work_;
    std::string socket_;
    pid_t service_ = -1;
};

}  // namespace kv::protection_test
