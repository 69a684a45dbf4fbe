#pragma once

#include "screens/CScreenTable.h"

#include <functional>

// Turns result codes into screens until a screen ends with the leave code.
// Every pass shows at least one screen, so the loop can never spin on a code
// without the user seeing something.
class CScreenLoop {
public:
    // Runs before every screen with the code about to be shown; returns the
    // code to go on with, or ScreenCode::Leave to end the loop. It may show
    // a screen of its own (the first-administrator registration).
    using StartCheck = std::function<ScreenCode(ScreenCode code)>;

    CScreenLoop(const CScreenTable& table, StartCheck startCheck);

    // From the user confirmation screen until the leave code.
    void run();

    // The screen shown for a code: the code itself when it has a screen; the
    // administrator menu for an administration code without a screen; the
    // user confirmation screen for anything else (the generic results 1 and 2,
    // unknown codes). ScreenCode::Leave when not even that one is entered.
    ScreenCode screenFor(ScreenCode code) const;

private:
    const CScreenTable& m_table;
    StartCheck m_startCheck;
    CString m_selectedKey;
};
