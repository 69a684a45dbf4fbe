// Texts from the screens and from mail servers reach the data file unchanged,
// whatever they contain, and never act as SQL.
#include "DataFolder.h"

#include "data/CDbAccess.h"

#include <string>
#include <vector>

namespace {

std::vector<std::string> awkwardTexts() {
    std::string tenKilobytes;
    while (tenKilobytes.size() < 10 * 1024)
        tenKilobytes += "長い名前'\"\\%;-- ";
    return {
        "O'Brien",
        "say \"hi\"",
        "C:\\path\\",
        "100% _match_",
        "a;b",
        "-- not a comment",
        "line one\r\nline two\nline three\r",
        "emoji 😀👨‍👩‍👧 かな",
        "x'); DELETE FROM t_user; --",
        "'quoted'",
        "null",
        "?user_id",
        tenKilobytes,
    };
}

class BadInputTest : public DataTest {};

TEST_F(BadInputTest, TextsAreStoredAndReadBackByteForByte) {
    const std::vector<std::string> texts = awkwardTexts();
    CDbAccess db;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const CString text(texts[i]);
        const CString userId(("USER" + std::to_string(i)).c_str());
        db.saveUser(userId, text, text, CString("2"), static_cast<long>(i + 1));
        db.addMail(userId, text);
        CString loginId;
        db.addLogin(userId, CString(now), loginId);
        db.setMailError(loginId, userId, text, CString(now), text);
        db.saveGroup(CString(), text, static_cast<long>(i + 10));
    }
    CMapStringToString settings;
    for (std::size_t i = 0; i < texts.size(); ++i)
        settings.SetAt(CString(("key" + std::to_string(i)).c_str()), CString(texts[i]));
    db.setDefault(settings);

    EXPECT_EQ(query(folder.dataFile(), "SELECT count(*) FROM t_user"),
              (Table{{std::to_string(texts.size())}}));
    CMapStringToString readSettings;
    db.getDefault(readSettings);
    NVKTL::vector<CMapStringToString*> errorRows;
    db.getMailErrorList(&errorRows);
    const Rows errors = takeRows(errorRows);
    ASSERT_EQ(errors.size(), texts.size());

    for (std::size_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE(i);
        const CString userId(("USER" + std::to_string(i)).c_str());
        CString name;
        CString mail;
        CString group;
        ASSERT_EQ(db.getUser(userId, name, mail, group), 0);
        EXPECT_EQ(name.str(), texts[i]);
        EXPECT_EQ(mail.str(), texts[i]);
        CString addresses;
        db.getAddress(userId, addresses);
        EXPECT_EQ(addresses.str(), texts[i] + "\r\n");
        EXPECT_EQ(db.existGroupName(CString(texts[i])), 0);
        CString value;
        EXPECT_TRUE(readSettings.Lookup(CString(("key" + std::to_string(i)).c_str()), value));
        EXPECT_EQ(value.str(), texts[i]);
        // Same error date everywhere: find this user's row.
        bool found = false;
        for (const auto& row : errors) {
            if (row.at("user_name") == texts[i]) {
                EXPECT_EQ(row.at("mail"), texts[i]);
                EXPECT_EQ(row.at("error_msg"), texts[i]);
                found = true;
            }
        }
        EXPECT_TRUE(found);
    }
}

TEST_F(BadInputTest, SqlInsideAValueDeletesNothing) {
    CDbAccess db;
    db.saveUser(CString("KEEP"), CString("kept"), CString(), CString("2"), 1);
    const CString attack("x'); DELETE FROM t_user; --");
    db.saveUser(attack, attack, attack, CString("2"), 2);
    db.deleteUser(CString("nobody' OR '1'='1"));
    db.deleteMail(CString("' OR 1=1 --"));
    db.deleteGroup(CString("2 OR 1=1"));
    db.deleteGroupUsers(CString("2 OR 1=1"));
    db.deleteMailError(CString("1 OR 1=1"));

    EXPECT_EQ(db.existUser(CString("KEEP")), 0);
    EXPECT_EQ(db.existUser(attack), 0);
    EXPECT_EQ(db.existUser(CString("' OR '1'='1")), -1);
    EXPECT_EQ(db.checkAdminUser(CString("x' OR '1'='1")), -1);
    EXPECT_EQ(query(folder.dataFile(), "SELECT count(*) FROM t_user"), (Table{{"2"}}));
    EXPECT_EQ(query(folder.dataFile(), "SELECT count(*) FROM t_group"), (Table{{"2"}}));
}

} // namespace
