#include "app/CScreenLoop.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Codes = std::vector<int>;

TEST(CScreenLoopTest, ResultsNameTheNextScreen) {
    struct Case {
        const char* what;
        Codes entered, results, shown; // the screens end with the results in turn
        // Before the nth screen (from 1): the code the start check goes on with.
        std::map<std::size_t, ScreenCode> checks;
        Codes checked; // the codes the start check saw; empty: the shown
    };
    // 1 and 2 (the generic confirm and cancel), 7, -12 and -50 name no screen.
    // clang-format off
    const Case cases[] = {
        {"codes with a screen", {-1, -2, -3, -6, -7}, {-2, -3, -6, -7, -1},
         {-1, -2, -3, -6, -7, -1}, {}, {}},
        {"codes without a screen", {-1, -3}, {1, 2, 7, -50, -4, -11, -20, -21, -30, -12},
         {-1, -1, -1, -1, -1, -3, -3, -3, -3, -3, -1}, {},
         {-1, 1, 2, 7, -50, -4, -11, -20, -21, -30, -12}},
        // No administrator before the second screen: the registration
        // succeeds and the menu follows; before the fourth the loop ends.
        {"the start check", {-1, -2, -3}, {-2, -1, -2}, {-1, -3, -1},
         {{2, ScreenCode::AdminMenu}, {4, ScreenCode::Leave}}, {-1, -2, -1, -2}},
        {"nothing to show", {}, {}, {}, {}, {-1}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::size_t next = 0;
        Codes shown, checked;
        std::vector<std::string> keys;
        CScreenTable table;
        for (const int code : c.entered)
            table.add(screenCodeOf(code), [&, code](CString& key) {
                shown.push_back(code);
                keys.push_back(key.str());
                if (code == -1 || code == -6) // a card recognised, a user chosen
                    key = CString(code == -1 ? "card" : "user");
                return next < c.results.size() ? c.results[next++] : resultOf(ScreenCode::Leave);
            });
        CScreenLoop loop(table, [&](ScreenCode code) {
            checked.push_back(resultOf(code));
            const auto check = c.checks.find(checked.size());
            return check == c.checks.end() ? code : check->second;
        });
        loop.run();
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(checked, c.checked.empty() ? c.shown : c.checked);
        if (c.entered.size() == 5) {
            // The greeting gets the card, the change screen the chosen user.
            EXPECT_EQ(keys, (std::vector<std::string>{"", "card", "card", "card", "user", "user"}));
        }
    }
}

} // namespace
