#include "app/CScreenLoop.h"

#include <utility>

CScreenLoop::CScreenLoop(const CScreenTable& table, StartCheck startCheck)
    : m_table(table), m_startCheck(std::move(startCheck)) {}

ScreenCode CScreenLoop::screenFor(ScreenCode code) const {
    if (code != ScreenCode::Leave && m_table.has(code))
        return code;
    if (CScreenTable::isAdministrationCode(code) && m_table.has(ScreenCode::AdminMenu))
        return ScreenCode::AdminMenu;
    if (m_table.has(ScreenCode::UserConfirmation))
        return ScreenCode::UserConfirmation;
    return ScreenCode::Leave;
}

void CScreenLoop::run() {
    ScreenCode code = ScreenCode::UserConfirmation;
    while (code != ScreenCode::Leave) {
        if (m_startCheck) {
            code = m_startCheck(code);
            if (code == ScreenCode::Leave)
                break;
        }
        const ScreenCode screen = screenFor(code);
        if (screen == ScreenCode::Leave)
            break;
        code = screenCodeOf(m_table.show(screen, m_selectedKey));
    }
}
