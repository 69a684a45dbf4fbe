#include "admin/CUserScreenParts.h"

#include "admin/MailAddressCheck.h"
#include "data/CDbAccess.h"
#include "screens/CMessageBox.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalBlocker>

namespace userscreen {

CString cardFieldText(const CString& card) {
    if (card == "err")
        return CString(kReaderError);
    if (card == "no")
        return CString(kPutCard);
    return card;
}

CString defaultCaption() {
    return CString("NVKぽすとん");
}

namespace {

// Copies the named column of every row and releases the rows.
template <typename Visit>
void eachRow(CDbAccess& db, NVKTL::vector<CMapStringToString*>& rows, Visit visit) {
    const std::size_t count = rows.size();
    for (std::size_t i = 0; i < count; ++i)
        visit(*rows.at(i));
    db.releaseVector(&rows);
}

CString column(const CMapStringToString& row, const char* name) {
    CString value;
    row.Lookup(CString(name), value);
    return value;
}

} // namespace

void fillGroupCombo(QComboBox* combo, std::vector<CString>& groupIds) {
    combo->clear();
    groupIds.clear();
    CDbAccess db;
    NVKTL::vector<CMapStringToString*> rows;
    db.getGroupList(&rows, true);
    eachRow(db, rows, [&](const CMapStringToString& row) {
        combo->addItem(qt(column(row, "group_name")));
        groupIds.push_back(column(row, "group_id"));
    });
}

void fillUserList(QListWidget* list, const CString& groupId, std::vector<CString>& userIds) {
    list->clear();
    userIds.clear();
    CDbAccess db;
    NVKTL::vector<CMapStringToString*> rows;
    db.getUserList(groupId, &rows);
    eachRow(db, rows, [&](const CMapStringToString& row) {
        list->addItem(qt(column(row, "user_name")));
        userIds.push_back(column(row, "user_id"));
    });
}

CAddressList::CAddressList(QWidget* owner, QListWidget* list, QLineEdit* edit)
    : m_owner(owner), m_list(list), m_edit(edit) {}

int CAddressList::selectedRow() const {
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    return selected.isEmpty() ? -1 : m_list->row(selected.front());
}

bool CAddressList::refuseBadAddress(const QString& text) {
    if (isAcceptableMailAddress(cs(text)))
        return false;
    CMessageBox::ok(m_owner, CString(kBadMailAddress), CString(kCaption));
    return true;
}

void CAddressList::OnAdd() {
    const QString text = m_edit->text();
    if (text.isEmpty()) {
        CMessageBox::ok(m_owner, CString(kNoAddress), CString(kCaption));
        return;
    }
    if (refuseBadAddress(text))
        return;
    if (findExact(text) >= 0) {
        CMessageBox::ok(m_owner, CString(kDuplicate), CString(kCaption));
        return;
    }
    insertSorted(text);
    m_edit->clear();
}

void CAddressList::OnDelete() {
    const int row = selectedRow();
    if (row < 0) {
        CMessageBox::ok(m_owner, CString(kNotSelected), CString(kCaption));
        return;
    }
    {
        const QSignalBlocker quiet(m_list);
        delete m_list->takeItem(row);
        m_list->clearSelection();
    }
    m_edit->clear();
}

void CAddressList::OnReplace() {
    const QString text = m_edit->text();
    if (text.isEmpty()) {
        CMessageBox::ok(m_owner, CString(kNoAddress), CString(kCaption));
        return;
    }
    const int row = selectedRow();
    if (row < 0) {
        CMessageBox::ok(m_owner, CString(kNotSelected), CString(kCaption));
        return;
    }
    if (refuseBadAddress(text))
        return;
    // The edit keeps its text; no other entry becomes selected.
    const QSignalBlocker quiet(m_list);
    delete m_list->takeItem(row);
    m_list->clearSelection();
    insertSorted(text);
}

void CAddressList::OnSelectionChanged() {
    const int row = selectedRow();
    if (row >= 0)
        m_edit->setText(m_list->item(row)->text());
}

void CAddressList::insertSorted(const QString& text) {
    int row = 0;
    while (row < m_list->count() &&
           QString::compare(m_list->item(row)->text(), text, Qt::CaseInsensitive) <= 0)
        ++row;
    m_list->insertItem(row, text);
}

int CAddressList::findExact(const QString& text) const {
    for (int row = 0; row < m_list->count(); ++row)
        if (QString::compare(m_list->item(row)->text(), text, Qt::CaseInsensitive) == 0)
            return row;
    return -1;
}

std::vector<CString> CAddressList::entries() const {
    std::vector<CString> texts;
    for (int row = 0; row < m_list->count(); ++row)
        texts.push_back(cs(m_list->item(row)->text()));
    return texts;
}

} // namespace userscreen
