#include "admin/CPickList.h"

#include "admin/CUserForm.h"
#include "admin/StoreTogether.h"
#include "data/CDbAccess.h"
#include "screens/CMessageBox.h"
#include "screens/QtText.h"

#include <QComboBox>
#include <QListWidget>

namespace {

// Fills the list with the named column of every row and keys with the key
// column at the same position.
void fill(QListWidget* list, std::vector<CString>& keys, NVKTL::vector<CMapStringToString*>& rows,
          const char* keyColumn, const char* textColumn) {
    list->clear();
    keys.clear();
    const std::size_t count = rows.size();
    for (std::size_t i = 0; i < count; ++i) {
        CString key;
        CString text;
        rows.at(i)->Lookup(CString(keyColumn), key);
        rows.at(i)->Lookup(CString(textColumn), text);
        list->addItem(qt(text));
        keys.push_back(key);
    }
}

} // namespace

CPickList::CPickList(QWidget* screen, QListWidget* list) : m_screen(screen), m_list(list) {}

void CPickList::showGroups(bool withDeletionMark) {
    m_withDeletionMark = withDeletionMark;
    reload();
}

void CPickList::showUsersOf(QComboBox* groups) {
    m_groups = groups;
    userform::fillGroupCombo(groups, m_groupIds);
    if (groups->count() > 0)
        groups->setCurrentIndex(0);
    showUsers();
    QObject::connect(groups, &QComboBox::currentIndexChanged, m_screen, [this] { showUsers(); });
}

void CPickList::reload() {
    if (m_groups != nullptr) {
        showUsers();
        return;
    }
    CDbAccess db;
    NVKTL::vector<CMapStringToString*> rows;
    // Groups with a deletion mark (the administrators') are offered only
    // where they may be chosen.
    db.getGroupList(&rows, m_withDeletionMark);
    fill(m_list, m_keys, rows, "group_id", "group_name");
    db.releaseVector(&rows);
}

void CPickList::showUsers() {
    const int group = m_groups->currentIndex();
    if (group < 0) {
        m_list->clear();
        m_keys.clear();
        return;
    }
    CDbAccess db;
    NVKTL::vector<CMapStringToString*> rows;
    db.getUserList(m_groupIds.at(static_cast<std::size_t>(group)), &rows);
    fill(m_list, m_keys, rows, "user_id", "user_name");
    db.releaseVector(&rows);
}

CString CPickList::chosenKey(const char* caption) {
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty()) {
        CMessageBox::warn(m_screen, CString(kNothingSelected), CString(caption));
        return CString();
    }
    return m_keys.at(static_cast<std::size_t>(m_list->row(selected.front())));
}

void CPickList::deleteMarked(const Deletion& deletion) {
    const CString caption(deletion.caption);
    std::vector<int> marked;
    for (int row = 0; row < m_list->count(); ++row)
        if (m_list->item(row)->isSelected())
            marked.push_back(row);
    if (marked.empty()) {
        CMessageBox::warn(m_screen, CString(deletion.nothingMarked), caption);
        return;
    }
    std::vector<CString> confirmed;
    for (const int row : marked) {
        const CString key = m_keys.at(static_cast<std::size_t>(row));
        if (deletion.confirm(key, cs(m_list->item(row)->text())))
            confirmed.push_back(key);
    }
    bool stored = true;
    if (!confirmed.empty()) {
        CDbAccess db;
        stored = storeTogether(db, [&] {
            for (const CString& key : confirmed)
                if (!deletion.erase(db, key))
                    return false;
            return true;
        });
    }
    reload();
    if (!stored)
        CMessageBox::warn(m_screen, CString(kNotStored), caption);
    else if (!confirmed.empty())
        CMessageBox::ok(m_screen, CString(deletion.deleted), caption);
    m_list->clearSelection();
}
