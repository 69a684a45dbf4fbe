// Groups, users and their addresses as the administration screens use them,
// on the terminal's file and on a server.
#include "data/CDbAccess.h"
#include "tests/support/TestServerStore.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace testsupport;
using Results = std::vector<int>;

class GroupsUsersTest : public ::testing::TestWithParam<StoreKind> {
protected:
    std::unique_ptr<TestStore> store = makeTestStore(GetParam());
    TestStore& data = *store;
    CDbAccess db;
};

TEST_P(GroupsUsersTest, AUserIsFoundByTheExactCardAndTakesItsAddressesAlongWhenTheGroupGoes) {
    const CString card("0123456789ABCDEF");
    EXPECT_EQ(db.saveUser(card, "山田", "y@x.jp", "3", 7), 0);
    EXPECT_EQ(db.saveUser("FEDCBA9876543210", "佐藤", "", "2", 1), 0);
    EXPECT_EQ((Results{db.existUser(card), db.existUser("0123456789abcdef"),
                       db.checkAdminUser(card), db.getUserMaxOrder(), db.getUserOrder("X")}),
              (Results{0, -1, -1, 7, -1}));
    EXPECT_EQ(data.text("SELECT mail FROM t_user ORDER BY order_id"), "<null>;y@x.jp;");
    // Saving a known card overwrites it; group 1 makes an administrator.
    EXPECT_EQ(db.saveUser(card, "山田太郎", "", "1", 5), 0);
    CString name, mail("m"), group;
    ASSERT_EQ(db.getUser(card, name, mail, group), 0);
    EXPECT_EQ(name + "/" + mail + "/" + group, "山田太郎//1");
    EXPECT_EQ((Results{db.getUserOrder(card), db.checkAdminUser(card), db.existAdminUser()}),
              (Results{5, 0, 0}));

    EXPECT_EQ((Results{db.addMail(card, "b@x.jp"), db.addMail(card, "c@x.jp"),
                       db.addMail(card, "b@x.jp"), db.addMail("FEDCBA9876543210", "s@x.jp")}),
              (Results{0, 0, -1, 0}));
    CString list("list:");
    EXPECT_EQ(db.getAddress(card, list), 0);
    EXPECT_EQ(list, "list:b@x.jp\r\nc@x.jp\r\n");
    // A card handed on later must not reach the former holder's addresses.
    EXPECT_EQ(db.deleteGroupUsers("1"), 0);
    EXPECT_EQ(data.text("SELECT user_id FROM t_user UNION ALL SELECT mail FROM t_mail"),
              "FEDCBA9876543210;s@x.jp;");
}

TEST_P(GroupsUsersTest, EveryWriteReportsWhetherItWasStoredAndABatchKeepsAllOrNone) {
    data.refuseWrites("t_mail");
    for (const bool commit : {false, true}) {
        ASSERT_EQ(db.beginBatch(), 0);
        EXPECT_EQ(db.beginBatch(), -1);
        EXPECT_EQ(db.saveUser("A", "a", "", "2", 1), 0);
        EXPECT_EQ(db.addMail("A", "a@x.jp"), commit ? 0 : -1);
        EXPECT_EQ(db.endBatch(commit), 0);
        EXPECT_EQ(db.existUser("A"), commit ? 0 : -1);
        if (!commit)
            data.allowWrites("t_mail");
    }
    EXPECT_EQ(db.endBatch(true), -1);

    CMapStringToString setting;
    setting.SetAt("kido_type", "");
    const std::pair<const char*, std::function<int(CDbAccess&)>> cases[] = {
        {"t_group", [](CDbAccess& d) { return d.saveGroup("", "g", 9); }},
        {"t_mail", [](CDbAccess& d) { return d.deleteGroupUsers("2"); }},
        {"t_user", [](CDbAccess& d) { return d.saveUser("U", "", "", "2", 2); }},
        {"t_mail", [](CDbAccess& d) { return d.addMail("U", "x"); }},
        {"t_def_data", [&setting](CDbAccess& d) { return d.storeDefault(setting); }},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        for (const bool refused : {true, false}) {
            const auto file = makeTestStore(GetParam());
            file->addUser("U", "u", "2", {"u@x.jp"});
            if (refused)
                file->refuseWrites(cases[i].first);
            CDbAccess access;
            EXPECT_EQ(cases[i].second(access), refused ? -1 : 0) << "case " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryStore, GroupsUsersTest,
                         ::testing::Values(StoreKind::File, StoreKind::Server),
                         [](const auto& info) { return storeKindName(info.param); });

} // namespace
