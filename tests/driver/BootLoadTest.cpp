// The service loads every account's table itself: at its start, and again
// when the administrator's Start asks; root sees where each table came from.
#include <gtest/gtest.h>

#include <map>

#include "driver/Service.h"
#include "tests/support/TempDir.h"

namespace kv::driver {
namespace {

/// Settings that know two accounts (1000 in a group, 1001 alone); every other
/// uid is the unknown user.
class FakeAuthority : public IAuthority {
public:
    bool automatic = true;
    bool readable = true;
    std::vector<uid_t> known = {1000, 1001, 0};

    Password Check(const std::optional<std::string>&) override { return Password::None; }
    std::string PrincipalOf(uid_t uid, std::string* error) override {
        if (!readable) {
            *error = "unreadable";
            return {};
        }
        return uid == 1000 ? "g_Pupils" : uid == 1001 ? "u_bob" : "u_Unknown User";
    }
    bool Compile(const std::string& principal, std::vector<Entry>* entries,
                 std::string* error) override {
        if (!readable) {
            *error = "unreadable";
            return false;
        }
        // One entry that names its principal, so a test sees whose rules a table holds.
        *entries = {{1, "/srv/" + principal, "", "*", "kv"}};
        return true;
    }
    bool KnownAccounts(bool* on, std::vector<uid_t>* uids, std::string* error) override {
        if (!readable) {
            *error = "unreadable";
            return false;
        }
        *on = automatic;
        if (uids)
            *uids = known;
        return true;
    }
    int ReadFile(std::uint32_t, uid_t, std::string*) override { return EINVAL; }
    int WriteFile(std::uint32_t, uid_t, const std::string*) override { return EINVAL; }
};

class BootLoadTest : public ::testing::Test {
protected:
    std::unique_ptr<Service> Started(std::vector<uid_t> loginAccounts = {1002, 1000}) {
        ServiceOptions options = OptionsFor(dir_.File("VEVUZ"), dir_.File("state"));
        options.authority = &authority_;
        options.loginAccounts = [loginAccounts] { return loginAccounts; };
        auto service = std::make_unique<Service>(options);
        std::string error;
        EXPECT_TRUE(service->Start(&error)) << error;
        return service;
    }

    static Reply Ask(Service& service, const Request& request, uid_t uid = 0) {
        std::string frame = EncodeRequest(request);
        return service.HandleBody(std::string_view(frame).substr(4), uid);
    }

    /// uid -> (first entry's FileMask, active, origin) of every table.
    static std::map<uid_t, std::tuple<std::string, bool, Origin>> Tables(Service& service) {
        std::map<uid_t, std::tuple<std::string, bool, Origin>> out;
        for (auto& [uid, table] : service.Tables().All()) {
            if (!table.Empty())
                out[uid] = {table.Count() ? table.Entries()[0].FileMask : "", table.Active(),
                            table.GetOrigin()};
        }
        return out;
    }

    kv::test::TempDir dir_;
    FakeAuthority authority_;
};

using Row = std::tuple<std::string, bool, Origin>;

TEST_F(BootLoadTest, TheStartLoadsEveryKnownAndEveryLoginAccountButRoot) {
    auto service = Started();
    const std::map<uid_t, Row> expected = {
        {1000, {"/srv/g_Pupils", true, Origin::kBoot}},
        {1001, {"/srv/u_bob", true, Origin::kBoot}},
        {1002, {"/srv/u_Unknown User", true, Origin::kBoot}},
    };
    EXPECT_EQ(Tables(*service), expected);
    EXPECT_NE(service->CurrentPolicy(), nullptr);
}

TEST_F(BootLoadTest, WithAutomaticProtectionOffOrUnreadableSettingsTheSavedTablesStay) {
    {
        ServiceOptions options = OptionsFor(dir_.File("VEVUZ"), dir_.File("state"));
        Service service(options);
        std::string error;
        ASSERT_TRUE(service.Start(&error)) << error;
        EntryTable& table = service.Tables().Of(1001);
        ASSERT_TRUE(table.Add({1, "/kept", "", "*", ""}, &error));
        table.SetActive(true);
        table.SetOrigin(Origin::kSession);
        ASSERT_TRUE(service.Tables().Flush(&error)) << error;
    }
    const std::map<uid_t, Row> saved = {{1001, {"/kept", true, Origin::kSession}}};
    authority_.automatic = false;
    EXPECT_EQ(Tables(*Started()), saved);
    authority_.automatic = true;
    authority_.readable = false;
    EXPECT_EQ(Tables(*Started()), saved);
}

TEST_F(BootLoadTest, OriginsFollowWhoLoadedTheTable) {
    auto service = Started({});
    Request own = MakeRequest(code::kLoadRules);
    EXPECT_TRUE(Ask(*service, own, 1001).success);
    Request other = MakeRequest(code::kLoadRules);
    other.principal = "g_Pupils";
    EXPECT_TRUE(Ask(*service, other, 1000).success) << "a group's member: its own rules";
    EXPECT_TRUE(Ask(*service, other, 1002).success);
    Request add = MakeRequest(code::kAddEntry);
    add.record.FileMask = "/sent";
    EXPECT_TRUE(Ask(*service, add, 1003).success);
    std::map<uid_t, Row> expected = {
        {1000, {"/srv/g_Pupils", true, Origin::kSession}},
        {1001, {"/srv/u_bob", true, Origin::kSession}},
        {1002, {"/srv/g_Pupils", true, Origin::kTest}},
        {1003, {"/sent", false, Origin::kEntries}},
    };
    EXPECT_EQ(Tables(*service), expected);

    Request label = MakeRequest(code::kSetOrigin);
    label.origin = static_cast<std::uint32_t>(Origin::kTest);
    EXPECT_TRUE(Ask(*service, label, 1003).success);
    label.origin = 99;
    EXPECT_FALSE(Ask(*service, label, 1003).success) << "a number that names no origin";
    std::get<2>(expected[1003]) = Origin::kTest;
    EXPECT_EQ(Tables(*service), expected);

    // Start: every account again, from the settings.
    const Reply start = Ask(*service, MakeRequest(code::kLoadEveryAccount));
    EXPECT_TRUE(start.success);
    EXPECT_EQ(start.returned, 2u) << "the two known accounts; no login accounts here";
    expected[1000] = {"/srv/g_Pupils", true, Origin::kStart};
    expected[1001] = {"/srv/u_bob", true, Origin::kStart};
    EXPECT_EQ(Tables(*service), expected) << "tables of other uids stay as they were";
}

TEST_F(BootLoadTest, OnlyRootListsTheTables) {
    auto service = Started();
    Request list = MakeRequest(code::kGetTables);
    list.outputSize = 4096;
    EXPECT_FALSE(Ask(*service, list, 1000).success);
    const Reply reply = Ask(*service, list, 0);
    ASSERT_TRUE(reply.success);
    ASSERT_EQ(reply.returned, 3u);
    ASSERT_EQ(reply.output.size(), 48u);
    EXPECT_EQ(GetU32(reply.output, 0), 1000u);
    EXPECT_EQ(GetU32(reply.output, 4), 1u);
    EXPECT_EQ(GetU32(reply.output, 8), 1u);
    EXPECT_EQ(GetU32(reply.output, 12), static_cast<std::uint32_t>(Origin::kBoot));
    EXPECT_EQ(GetU32(reply.output, 32), 1002u);
    list.outputSize = 47;
    EXPECT_FALSE(Ask(*service, list, 0).success) << "an output that does not fit is refused";
}

}  // namespace
}  // namespace kv::driver
