#pragma once

#include "nvktl/CMapStringToString.h"
#include "screens/ScreenCode.h"

#include <functional>
#include <map>
#include <utility>

// The screens of the loop by code. Each entry creates its screen, hands it
// the selected key where it takes one, shows it modally, takes its choice
// back into the selected key where it gives one, destroys it and returns its
// result. The application enters the reception screens and calls
// registerAdminScreens (admin/) for the administration screens.
class CScreenTable {
public:
    using Screen = std::function<int(CString& selectedKey)>;

    void add(ScreenCode code, Screen screen) { m_screens[code] = std::move(screen); }
    void remove(ScreenCode code) { m_screens.erase(code); }
    bool has(ScreenCode code) const { return m_screens.count(code) != 0; }

    // Shows the screen of code, which must be entered; returns its result.
    int show(ScreenCode code, CString& selectedKey) const {
        return m_screens.at(code)(selectedKey);
    }

    // Codes that the administrator menu leads to: the user and group
    // screens, the two settings screens, the mail error list and the history.
    static bool isAdministrationCode(ScreenCode code) {
        const int value = resultOf(code);
        return (value <= resultOf(ScreenCode::UserRegistration) &&
                value >= resultOf(ScreenCode::GroupChange)) ||
               code == ScreenCode::MailSettings || code == ScreenCode::OperationSettings ||
               code == ScreenCode::MailErrors || code == ScreenCode::History;
    }

private:
    std::map<ScreenCode, Screen> m_screens;
};
