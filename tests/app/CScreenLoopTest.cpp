#include "app/CScreenLoop.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace {

// Fake screens that end with scripted results and record what they were shown
// with.
class ScriptedScreens {
public:
    explicit ScriptedScreens(std::deque<int> results) : m_results(std::move(results)) {}

    void enter(CScreenTable& table, int code, const char* choice = nullptr) {
        table.add(code, [this, code, choice](CString& key) {
            shown.push_back(code);
            keys.push_back(key.str());
            if (m_results.empty())
                return CScreenTable::kLeave;
            if (choice)
                key = CString(choice);
            const int result = m_results.front();
            m_results.pop_front();
            return result;
        });
    }

    std::vector<int> shown;
    std::vector<std::string> keys;

private:
    std::deque<int> m_results;
};

TEST(CScreenLoopTest, CodesNameTheNextScreenAndTheSelectedKeyTravels) {
    ScriptedScreens screens({-2, -3, -6, -7, -1, -100});
    CScreenTable table;
    screens.enter(table, -1, "0123456789ABCDEF");
    screens.enter(table, -2);
    screens.enter(table, -3);
    screens.enter(table, -6, "USER0001");
    screens.enter(table, -7);
    CScreenLoop loop(table, nullptr);
    loop.run();
    EXPECT_EQ(screens.shown, (std::vector<int>{-1, -2, -3, -6, -7, -1}));
    // The greeting gets the card the user confirmation recognised; the change
    // screen gets the user the selection chose.
    EXPECT_EQ(screens.keys[1], "0123456789ABCDEF");
    EXPECT_EQ(screens.keys[4], "USER0001");
}

TEST(CScreenLoopTest, ResultsOutsideTheTableShowTheUserConfirmationAgain) {
    // 1 and 2 are the generic confirm and cancel results; 7 and -50 name
    // nothing.
    ScriptedScreens screens({1, 2, 7, -50, -100});
    CScreenTable table;
    screens.enter(table, -1);
    CScreenLoop loop(table, nullptr);
    loop.run();
    EXPECT_EQ(screens.shown, (std::vector<int>{-1, -1, -1, -1, -1}));
}

TEST(CScreenLoopTest, AdministrationScreensNotYetEnteredLeadToTheMenu) {
    ScriptedScreens screens({-4, -30, -20, -1, -100});
    CScreenTable table;
    screens.enter(table, -1);
    screens.enter(table, -3);
    CScreenLoop loop(table, [](int code) { return code; });
    EXPECT_EQ(loop.screenFor(-11), -3);
    EXPECT_EQ(loop.screenFor(-21), -3);
    EXPECT_EQ(loop.screenFor(-12), -1);
    loop.run();
    EXPECT_EQ(screens.shown, (std::vector<int>{-1, -3, -3, -3, -1}));
}

TEST(CScreenLoopTest, TheStartCheckRunsBeforeEveryScreenAndCanRedirectOrEndTheLoop) {
    ScriptedScreens screens({-2, -1, -2});
    CScreenTable table;
    screens.enter(table, -1);
    screens.enter(table, -2);
    screens.enter(table, -3);
    std::vector<int> checked;
    CScreenLoop loop(table, [&](int code) {
        checked.push_back(code);
        // No administrator before the second screen: the registration
        // succeeds and the menu follows; before the fourth the loop ends.
        if (checked.size() == 2)
            return CScreenTable::kAdminMenu;
        if (checked.size() == 4)
            return CScreenTable::kLeave;
        return code;
    });
    loop.run();
    EXPECT_EQ(checked, (std::vector<int>{-1, -2, -1, -2}));
    EXPECT_EQ(screens.shown, (std::vector<int>{-1, -3, -1}));
}

TEST(CScreenLoopTest, NeverSpinsWithoutAScreenToShow) {
    CScreenTable empty;
    int checks = 0;
    CScreenLoop loop(empty, [&](int code) {
        ++checks;
        return code;
    });
    loop.run();
    EXPECT_EQ(checks, 1);
}

} // namespace
