#include "admin/StoreTogether.h"

#include "data/CDbAccess.h"
#include "screens/CMessageBox.h"

#include <QString>

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
    std::vector<QString> stored;
    auto store = [&](const CString& address) {
        // "更新" may leave one address twice in the list, the edit may repeat
        // an entry, and letter case does not make another mailbox: the file
        // keeps the first spelling once.
        const QString text = QString::fromStdString(address.str());
        const auto same = [&text](const QString& other) {
            return QString::compare(other, text, Qt::CaseInsensitive) == 0;
        };
        if (address.IsEmpty() || std::any_of(stored.begin(), stored.end(), same))
            return true;
        stored.push_back(text);
        return db.addMail(userId, address) == 0;
    };
    if (!store(edit))
        return false;
    for (const CString& address : entries)
        if (!store(address))
            return false;
    return true;
}
