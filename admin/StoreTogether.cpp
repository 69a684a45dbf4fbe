#include "admin/StoreTogether.h"

#include "data/CDbAccess.h"
#include "screens/CMessageBox.h"

#include <algorithm>

bool storeTogether(CDbAccess& db, const std::function<bool()>& writes) {
    if (db.beginBatch() != 0)
        return false;
    if (!writes()) {
        db.endBatch(false);
        return false;
    }
    return db.endBatch(true) == 0;
}

void showOutcome(QWidget* screen, bool stored, const CString& success, const CString& caption) {
    if (stored)
        CMessageBox::ok(screen, success, caption);
    else
        CMessageBox::warn(screen, CString(kNotStored), caption);
}

bool addAddresses(CDbAccess& db, const CString& userId, const CString& edit,
                  const std::vector<CString>& entries) {
    std::vector<CString> stored;
    auto store = [&](const CString& address) {
        // "更新" may leave the same text twice in the list; the file keeps one.
        if (address.IsEmpty() || std::find(stored.begin(), stored.end(), address) != stored.end())
            return true;
        stored.push_back(address);
        return db.addMail(userId, address) == 0;
    };
    if (!store(edit))
        return false;
    for (const CString& address : entries)
        if (!store(address))
            return false;
    return true;
}
