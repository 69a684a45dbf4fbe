// Texts from the screens and from mail servers reach either store unchanged
// and never act as SQL: through the data operations, the roster copy a
// terminal of a server keeps, and the upload of its visits.
#include "data/CDbAccess.h"
#include "sync/CSyncThread.h"
#include "tests/support/TestServerStore.h"

#include <gtest/gtest.h>

namespace {

using namespace testsupport;

class AnyTextTest : public ::testing::TestWithParam<StoreKind> {
protected:
    std::unique_ptr<TestStore> store = makeTestStore(GetParam());
    TestStore& data = *store;
};

TEST_P(AnyTextTest, AnyTextIsStoredAndReadBackByteForByte) {
    // clang-format off
    const std::vector<std::string> texts = {
        "O'Brien", "say \"hi\"", "C:\\path\\", "100% _match_", "line\r\nnext\n", "😀 かな", "null",
        "?user_id", "'quoted'", "x'); DELETE FROM t_user; --", "tab\tand \x01\x1f", "}],{\"",
        std::string(10000, '\'')};
    // clang-format on
    const bool server = GetParam() == StoreKind::Server;
    CDbAccess db;
    CDbAccess terminal(CDbAccess::Store::Terminal);
    CMapStringToString settings;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string id = "USER" + std::to_string(i);
        ASSERT_EQ(db.saveUser(id, texts[i], texts[i], "2", 1) + db.addMail(id, texts[i]), 0);
        settings.SetAt("key" + std::to_string(i), texts[i]);
    }
    ASSERT_EQ(db.storeDefault(settings), 0);
    // A terminal of a server greets from its copy of the roster, records the
    // visit itself and hands it up.
    CSyncThread sync;
    ASSERT_TRUE(!server || sync.runOnce());
    std::vector<std::string> logins;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        CString login, name, mail, group, addresses;
        ASSERT_EQ(terminal.addLogin("USER" + std::to_string(i), "2026", login), 0);
        ASSERT_EQ(terminal.getUser("USER" + std::to_string(i), name, mail, group) +
                      terminal.getAddress("USER" + std::to_string(i), addresses),
                  0);
        EXPECT_EQ(name.str() + mail.str() + addresses.str(),
                  texts[i] + texts[i] + texts[i] + "\r\n");
        logins.push_back(login.str());
    }
    ASSERT_TRUE(!server || sync.runOnce());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        db.failDelivery(data.sendId(logins[i], texts[i]), "2026", texts[i]);
        db.deleteUser(texts[i] + "' OR '1'='1");
    }
    db.deleteGroupUsers("2 OR 1=1");
    CMapStringToString read;
    terminal.getDefault(read);
    NVKTL::vector<CMapStringToString*> rows;
    db.getMailErrorList(&rows);
    const std::string errors = joined(takeRows(rows), {"user_name", "mail", "error_msg"});
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(read["key" + std::to_string(i)].str(), texts[i]) << i;
        EXPECT_NE(errors.find(texts[i] + " " + texts[i] + " " + texts[i] + ";"), std::string::npos)
            << i;
    }
    EXPECT_EQ(data.value("SELECT count(*) FROM t_user"), std::to_string(texts.size()));
}

INSTANTIATE_TEST_SUITE_P(EveryStore, AnyTextTest,
                         ::testing::Values(StoreKind::File, StoreKind::Server),
                         [](const auto& info) { return storeKindName(info.param); });

} // namespace
