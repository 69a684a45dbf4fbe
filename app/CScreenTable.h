#pragma once

#include "nvktl/CMapStringToString.h"

#include <functional>
#include <map>
#include <utility>

// The screens of the loop by result code. Each entry creates its screen,
// hands it the selected key where it takes one, shows it modally, takes its
// choice back into the selected key where it gives one, destroys it and
// returns its result code. The application enters the reception screens and
// calls registerAdminScreens (admin/) for the administration screens.
class CScreenTable {
public:
    using Screen = std::function<int(CString& selectedKey)>;

    // The codes that name screens.
    static constexpr int kUserConfirmation = -1;
    static constexpr int kGreeting = -2;
    static constexpr int kAdminMenu = -3;
    static constexpr int kLeave = -100;

    void add(int code, Screen screen) { m_screens[code] = std::move(screen); }
    void remove(int code) { m_screens.erase(code); }
    bool has(int code) const { return m_screens.count(code) != 0; }

    // Shows the screen of code, which must be entered.
    int show(int code, CString& selectedKey) const { return m_screens.at(code)(selectedKey); }

    // Codes that the administrator menu leads to: users -4..-11, settings
    // -20 and -21, mail errors -30.
    static bool isAdministrationCode(int code) {
        return (code <= -4 && code >= -11) || code == -20 || code == -21 || code == -30;
    }

private:
    std::map<int, Screen> m_screens;
};
