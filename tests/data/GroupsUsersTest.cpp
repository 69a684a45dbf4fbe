// Groups, users and their addresses as the administration screens use them.
#include "DataFolder.h"

#include "data/CDbAccess.h"

#include <cstdio>
#include <functional>

namespace {

class GroupsUsersTest : public DataTest {
protected:
    CDbAccess db;

    Rows groupList(bool all) {
        NVKTL::vector<CMapStringToString*> rows;
        const int found = db.getGroupList(&rows, all);
        Rows taken = takeRows(rows);
        EXPECT_EQ(found, taken.empty() ? -1 : 0);
        return taken;
    }
    Rows userList(const char* groupId) {
        NVKTL::vector<CMapStringToString*> rows;
        const int found = db.getUserList(CString(groupId), &rows);
        Rows taken = takeRows(rows);
        EXPECT_EQ(found, taken.empty() ? -1 : 0);
        return taken;
    }
};

TEST_F(GroupsUsersTest, MasterFileHasAProtectedAdministratorGroupAndAnOrdinaryOne) {
    CString name, kengen, flag, order;
    ASSERT_EQ(db.getGroup(CString("1"), name, kengen, flag, order), 0);
    EXPECT_EQ(kengen, "M");
    EXPECT_FALSE(flag.IsEmpty());
    ASSERT_EQ(db.getGroup(CString("2"), name, kengen, flag, order), 0);
    EXPECT_NE(kengen, "M");
    EXPECT_EQ(db.existAdminUser(), -1);
    EXPECT_EQ(groupList(true).size(), 2u);
    const Rows deletable = groupList(false);
    ASSERT_EQ(deletable.size(), 1u);
    EXPECT_EQ(deletable[0].at("group_id"), "2");
}

TEST_F(GroupsUsersTest, NewGroupGetsAnIdFromTheFileAndLandsLast) {
    // The add-group screen passes an empty id; it is not found, so the group is inserted.
    EXPECT_EQ(db.existGroup(CString()), -1);
    EXPECT_EQ(db.saveGroup(CString(), CString("3年A組"), db.getGroupMaxOrder() + 1), 0);
    EXPECT_EQ(db.existGroupName(CString("3年A組")), 0);
    EXPECT_EQ(db.existGroupName(CString("3年B組")), -1);

    const Rows groups = groupList(true);
    ASSERT_EQ(groups.size(), 3u);
    const auto& added = groups[2];
    EXPECT_EQ(added.at("group_name"), "3年A組");
    EXPECT_EQ(added.at("order_id"), "3");
    EXPECT_EQ(added.at("kengen"), "");
    EXPECT_EQ(added.at("delete_flg"), "");
    const CString id(added.at("group_id"));
    EXPECT_EQ(db.existGroup(id), 0);
    EXPECT_EQ(groupList(false).size(), 2u);

    // Saving an existing id renames and reorders it in place.
    db.saveGroup(id, CString("3年B組"), 0);
    CString name, kengen, flag, order;
    ASSERT_EQ(db.getGroup(id, name, kengen, flag, order), 0);
    EXPECT_EQ(name, "3年B組");
    EXPECT_EQ(order, "0");
    EXPECT_EQ(groupList(true)[0].at("group_id"), id.str());
    EXPECT_EQ(query(folder.dataFile(), "SELECT count(*) FROM t_group"), (Table{{"3"}}));
}

TEST_F(GroupsUsersTest, MissingGroupOrUserLeavesOutputsUntouched) {
    CString name("n"), kengen("k"), flag("f"), order("o");
    EXPECT_EQ(db.getGroup(CString("99"), name, kengen, flag, order), -1);
    EXPECT_EQ(db.getGroup(CString(), name, kengen, flag, order), -1);
    EXPECT_EQ(name + kengen + flag + order, "nkfo");
    CString userName("u"), mail("m"), group("g");
    EXPECT_EQ(db.getUser(CString("NOBODY"), userName, mail, group), -1);
    EXPECT_EQ(userName + mail + group, "umg");
    CString addresses("before");
    EXPECT_EQ(db.getAddress(CString("NOBODY"), addresses), -1);
    EXPECT_EQ(addresses, "before");
    EXPECT_EQ(db.getUserOrder(CString("NOBODY")), -1);
    EXPECT_EQ(userList("2").size(), 0u);
}

TEST_F(GroupsUsersTest, OrderNumbersStartAtOneOnEmptyTables) {
    exec(folder.dataFile(), "DELETE FROM t_group");
    EXPECT_EQ(db.getGroupMaxOrder(), 0);
    EXPECT_EQ(db.getUserMaxOrder(), 0);
    db.saveUser(CString("A"), CString("a"), CString(), CString("2"), 41);
    EXPECT_EQ(db.getUserMaxOrder(), 41);
    EXPECT_EQ(db.getUserOrder(CString("A")), 41);
}

TEST_F(GroupsUsersTest, UsersAreSavedListedAndRecognised) {
    const CString card("0123456789ABCDEF");
    EXPECT_EQ(db.existUser(card), -1);
    db.saveUser(card, CString("山田"), CString("yamada@example.jp"), CString("2"), 2);
    db.saveUser(CString("FEDCBA9876543210"), CString("佐藤"), CString(), CString("2"), 1);
    EXPECT_EQ(db.existUser(card), 0);
    EXPECT_EQ(db.existUser(CString("0123456789abcdef")), -1); // ids compare exactly

    EXPECT_EQ(userList("2"), (Rows{{{"user_id", "FEDCBA9876543210"}, {"user_name", "佐藤"}},
                                   {{"user_id", card.str()}, {"user_name", "山田"}}}));
    EXPECT_EQ(query(folder.dataFile(), "SELECT mail FROM t_user ORDER BY order_id"),
              (Table{{"<null>"}, {"yamada@example.jp"}}));

    // Saving an existing card overwrites it; its addresses are the screens' business.
    db.saveUser(card, CString("山田太郎"), CString(), CString("1"), 5);
    CString name, mail("old"), group;
    ASSERT_EQ(db.getUser(card, name, mail, group), 0);
    EXPECT_EQ(name, "山田太郎");
    EXPECT_EQ(mail, "");
    EXPECT_EQ(group, "1");
    EXPECT_EQ(db.getUserOrder(card), 5);
    EXPECT_EQ(query(folder.dataFile(), "SELECT count(*) FROM t_user"), (Table{{"2"}}));

    // Group 1 makes an administrator.
    EXPECT_EQ(db.checkAdminUser(card), 0);
    EXPECT_EQ(db.checkAdminUser(CString("FEDCBA9876543210")), -1);
    EXPECT_EQ(db.existAdminUser(), 0);
    db.deleteUser(card);
    EXPECT_EQ(db.existUser(card), -1);
    EXPECT_EQ(db.existAdminUser(), -1);
}

TEST_F(GroupsUsersTest, AddressesAreListedOnceEachWithLineBreaks) {
    const CString user("USER");
    db.addMail(user, CString("a@example.jp"));
    db.addMail(user, CString("b@example.jp"));
    db.addMail(user, CString("a@example.jp")); // refused: the same address once per user
    db.addMail(CString("OTHER"), CString("a@example.jp"));

    CString addresses("list: ");
    EXPECT_EQ(db.getAddress(user, addresses), 0);
    EXPECT_EQ(addresses, "list: a@example.jp\r\nb@example.jp\r\n");

    db.deleteMail(user);
    CString none;
    EXPECT_EQ(db.getAddress(user, none), -1);
    EXPECT_EQ(db.getAddress(CString("OTHER"), none), 0);
}

TEST_F(GroupsUsersTest, DeletingAGroupsUsersDeletesTheirAddressesToo) {
    db.saveGroup(CString(), CString("temp"), 3);
    const std::string id = groupList(true)[2].at("group_id");
    db.saveUser(CString("IN"), CString("in"), CString("in@example.jp"), CString(id), 1);
    db.addMail(CString("IN"), CString("in@example.jp"));
    db.saveUser(CString("OUT"), CString("out"), CString(), CString("2"), 2);
    db.addMail(CString("OUT"), CString("out@example.jp"));

    EXPECT_EQ(userList(id.c_str()).size(), 1u);
    EXPECT_EQ(db.deleteGroupUsers(CString(id)), 0);
    EXPECT_EQ(db.deleteGroup(CString(id)), 0);
    EXPECT_EQ(db.existUser(CString("IN")), -1);
    EXPECT_EQ(db.existUser(CString("OUT")), 0);
    EXPECT_EQ(db.existGroup(CString(id)), -1);
    // A card handed on later must not reach the former holder's family.
    CString addresses;
    EXPECT_EQ(db.getAddress(CString("IN"), addresses), -1);
    EXPECT_EQ(db.getAddress(CString("OUT"), addresses), 0);

    // Ids are not reused after a delete.
    db.saveGroup(CString(), CString("next"), 4);
    EXPECT_NE(groupList(true).back().at("group_id"), id);
}

// A trigger that refuses every change of one table stands for a file that
// cannot be written (root ignores file modes, so a read-only file would not).
void refuseWrites(const std::string& file, const std::string& table) {
    for (const char* verb : {"INSERT", "UPDATE", "DELETE"})
        exec(file, std::string("CREATE TRIGGER refuse_") + verb + "_" + table + " BEFORE " + verb +
                       " ON " + table + " BEGIN SELECT RAISE(ABORT, 'not stored'); END");
}

TEST_F(GroupsUsersTest, EveryWriteReportsWhetherItWasStored) {
    db.saveUser(CString("U"), CString("u"), CString(), CString("2"), 1);
    db.addMail(CString("U"), CString("u@example.jp"));
    struct Case {
        const char* name;
        const char* table;
        std::function<int(CDbAccess&)> write;
    };
    const std::vector<Case> cases = {
        {"saveGroup new", "t_group",
         [](CDbAccess& d) { return d.saveGroup(CString(), CString("g"), 9); }},
        {"saveGroup update", "t_group",
         [](CDbAccess& d) { return d.saveGroup(CString("2"), CString("g"), 9); }},
        {"deleteGroup", "t_group", [](CDbAccess& d) { return d.deleteGroup(CString("2")); }},
        {"deleteGroupUsers", "t_mail",
         [](CDbAccess& d) { return d.deleteGroupUsers(CString("2")); }},
        {"saveUser new", "t_user",
         [](CDbAccess& d) {
             return d.saveUser(CString("N"), CString("n"), CString(), CString("2"), 2);
         }},
        {"saveUser update", "t_user",
         [](CDbAccess& d) {
             return d.saveUser(CString("U"), CString("v"), CString(), CString("2"), 2);
         }},
        {"deleteUser", "t_user", [](CDbAccess& d) { return d.deleteUser(CString("U")); }},
        {"addMail", "t_mail",
         [](CDbAccess& d) { return d.addMail(CString("U"), CString("x@example.jp")); }},
        {"deleteMail", "t_mail", [](CDbAccess& d) { return d.deleteMail(CString("U")); }},
    };
    for (const Case& c : cases) {
        DataFolder refusing;
        exec(refusing.dataFile(), "INSERT INTO t_user (user_id, user_name, group_id, order_id) "
                                  "VALUES ('U', 'u', 2, 1)");
        exec(refusing.dataFile(),
             "INSERT INTO t_mail (user_id, mail) VALUES ('U', 'u@example.jp')");
        refuseWrites(refusing.dataFile(), c.table);
        CDbAccess failing;
        EXPECT_EQ(c.write(failing), -1) << c.name;
    }
    // The same writes on a writable file are stored (the folder is the
    // fixture's again once the refusing ones are gone).
    CDbAccess::setDataFolder(CString(folder.path()));
    for (const Case& c : cases) {
        CDbAccess fresh;
        EXPECT_EQ(c.write(fresh), 0) << c.name;
    }
}

TEST_F(GroupsUsersTest, ABatchKeepsAllOfItsWritesOrNone) {
    refuseWrites(folder.dataFile(), "t_mail");
    ASSERT_EQ(db.beginBatch(), 0);
    EXPECT_EQ(db.saveUser(CString("A"), CString("a"), CString(), CString("2"), 1), 0);
    EXPECT_EQ(db.addMail(CString("A"), CString("a@example.jp")), -1);
    EXPECT_EQ(db.endBatch(false), 0);
    EXPECT_EQ(db.existUser(CString("A")), -1);

    exec(folder.dataFile(), "DROP TRIGGER refuse_INSERT_t_mail");
    ASSERT_EQ(db.beginBatch(), 0);
    EXPECT_EQ(db.saveUser(CString("A"), CString("a"), CString(), CString("2"), 1), 0);
    EXPECT_EQ(db.addMail(CString("A"), CString("a@example.jp")), 0);
    EXPECT_EQ(db.endBatch(true), 0);
    CString addresses;
    EXPECT_EQ(db.getAddress(CString("A"), addresses), 0);

    // Without a data file there is no batch to write into.
    std::remove(folder.dataFile().c_str());
    EXPECT_EQ(db.beginBatch(), -1);
}

} // namespace
