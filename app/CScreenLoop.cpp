#include "app/CScreenLoop.h"

#include <utility>

CScreenLoop::CScreenLoop(const CScreenTable& table, StartCheck startCheck)
    : m_table(table), m_startCheck(std::move(startCheck)) {}

int CScreenLoop::screenFor(int code) const {
    if (code != CScreenTable::kLeave && m_table.has(code))
        return code;
    if (CScreenTable::isAdministrationCode(code) && m_table.has(CScreenTable::kAdminMenu))
        return CScreenTable::kAdminMenu;
    if (m_table.has(CScreenTable::kUserConfirmation))
        return CScreenTable::kUserConfirmation;
    return CScreenTable::kLeave;
}

void CScreenLoop::run() {
    int code = CScreenTable::kUserConfirmation;
    while (code != CScreenTable::kLeave) {
        if (m_startCheck) {
            code = m_startCheck(code);
            if (code == CScreenTable::kLeave)
                break;
        }
        const int screen = screenFor(code);
        if (screen == CScreenTable::kLeave)
            break;
        code = m_table.show(screen, m_selectedKey);
    }
}
