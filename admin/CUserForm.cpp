#include "admin/CUserForm.h"

#include "admin/MailAddressCheck.h"
#include "admin/NameCheck.h"
#include "data/CDbAccess.h"
#include "nvktl/CStringList.h"
#include "nvktl/CTokenizer.h"
#include "screens/CMessageBox.h"
#include "screens/QtText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>

#include <algorithm>

namespace userform {

void fillGroupCombo(QComboBox* combo, std::vector<CString>& groupIds) {
    combo->clear();
    groupIds.clear();
    CDbAccess db;
    NVKTL::vector<CMapStringToString*> rows;
    db.getGroupList(&rows, true);
    const std::size_t count = rows.size();
    for (std::size_t i = 0; i < count; ++i) {
        CString id;
        CString name;
        rows.at(i)->Lookup(CString("group_id"), id);
        rows.at(i)->Lookup(CString("group_name"), name);
        combo->addItem(qt(name));
        groupIds.push_back(id);
    }
    db.releaseVector(&rows);
}

} // namespace userform

namespace {

template <class T> T* part(QWidget* screen, const char* role) {
    return screen->findChild<T*>(QString::fromLatin1(role));
}

} // namespace

CUserForm::CUserForm(QWidget* screen)
    : m_screen(screen), m_card(part<QLineEdit>(screen, "cardIdEdit")),
      m_name(part<QLineEdit>(screen, "nameEdit")),
      m_address(part<QLineEdit>(screen, "addressEdit")),
      m_list(part<QListWidget>(screen, "addressList")),
      m_groups(part<QComboBox>(screen, "groupCombo")),
      m_noticeOff(part<QCheckBox>(screen, "noticeOffCheck")) {
    auto connectButton = [this](const char* role, void (CUserForm::*action)()) {
        QObject::connect(part<QPushButton>(m_screen, role), &QPushButton::clicked, m_screen,
                         [this, action] { (this->*action)(); });
    };
    connectButton("addAddressButton", &CUserForm::OnAdd);
    connectButton("deleteAddressButton", &CUserForm::OnDelete);
    connectButton("replaceAddressButton", &CUserForm::OnReplace);
    QObject::connect(m_list, &QListWidget::itemSelectionChanged, m_screen,
                     [this] { OnSelectionChanged(); });
    QObject::connect(m_groups, &QComboBox::activated, m_screen,
                     [this](int index) { OnGroupChosen(index); });
}

CString CUserForm::card() const {
    return cs(m_card->text());
}

void CUserForm::showCard(const CString& text) {
    m_card->setText(qt(text));
}

CString CUserForm::name() const {
    return cs(m_name->text());
}

void CUserForm::setName(const CString& name) {
    m_name->setText(qt(name));
}

CString CUserForm::typedAddress() const {
    return cs(m_address->text());
}

bool CUserForm::refuseIncomplete(const CString& caption) {
    const char* refusal = nullptr;
    if (m_name->text().isEmpty())
        refusal = kNoName;
    else if (!isAcceptableNameLength(name()))
        refusal = kNameTooLong;
    else if (m_groups->currentIndex() < 0)
        refusal = kNoGroup;
    // The typed address is stored as well; it must be deliverable.
    else if (!m_address->text().isEmpty() && !isAcceptableMailAddress(typedAddress()))
        refusal = kBadMailAddress;
    if (refusal == nullptr)
        return false;
    CMessageBox::warn(m_screen, CString(refusal), caption);
    return true;
}

void CUserForm::fillGroups() {
    userform::fillGroupCombo(m_groups, m_groupIds);
    selectFirstOrdinaryGroup();
}

void CUserForm::selectFirstOrdinaryGroup() {
    const auto ordinary = std::find_if(m_groupIds.begin(), m_groupIds.end(), [](const CString& id) {
        return !(id == userform::kAdminGroup);
    });
    showGroup(ordinary == m_groupIds.end() ? -1 : static_cast<int>(ordinary - m_groupIds.begin()));
}

void CUserForm::showGroup(int index) {
    m_groups->setCurrentIndex(index);
    m_shownGroup = index;
}

void CUserForm::OnGroupChosen(int index) {
    if (index == m_shownGroup)
        return;
    if (groupId() == userform::kAdminGroup &&
        CMessageBox::yesNo(m_screen, CString(kAdminChosen), cs(m_screen->windowTitle())) !=
            CMessageBox::Yes) {
        m_groups->setCurrentIndex(m_shownGroup);
        return;
    }
    m_shownGroup = index;
}

void CUserForm::selectGroup(const CString& groupId) {
    for (std::size_t i = 0; i < m_groupIds.size(); ++i)
        if (m_groupIds[i] == groupId)
            showGroup(static_cast<int>(i));
}

void CUserForm::selectLastGroup() {
    if (m_groups->count() > 0)
        showGroup(m_groups->count() - 1);
}

CString CUserForm::groupId() const {
    const int index = m_groups->currentIndex();
    return index < 0 ? CString() : m_groupIds.at(static_cast<std::size_t>(index));
}

void CUserForm::showAddresses(const CString& stored) {
    NVKTL::CStringList pieces;
    NVKTL::CTokenizer(stored).Split(pieces, "\r\n");
    const std::size_t count = pieces.size();
    for (std::size_t i = 0; i < count; ++i)
        if (!pieces.at(i).IsEmpty())
            insertSorted(qt(pieces.at(i)));
}

std::vector<CString> CUserForm::addresses() const {
    std::vector<CString> texts;
    for (int row = 0; row < m_list->count(); ++row)
        texts.push_back(cs(m_list->item(row)->text()));
    return texts;
}

bool CUserForm::noticeOff() const {
    return m_noticeOff->isChecked();
}

void CUserForm::setNoticeOff(bool off) {
    m_noticeOff->setChecked(off);
}

void CUserForm::clearUser() {
    m_noticeOff->setChecked(false);
    m_name->clear();
    m_address->clear();
    m_list->clear();
    if (groupId() == userform::kAdminGroup)
        selectFirstOrdinaryGroup();
}

int CUserForm::selectedRow() const {
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    return selected.isEmpty() ? -1 : m_list->row(selected.front());
}

bool CUserForm::refuseBadAddress(const QString& text) {
    if (isAcceptableMailAddress(cs(text)))
        return false;
    CMessageBox::warn(m_screen, CString(kBadMailAddress), CString(kAddressCaption));
    return true;
}

void CUserForm::OnAdd() {
    const QString text = m_address->text();
    if (text.isEmpty()) {
        CMessageBox::warn(m_screen, CString(kNoAddress), CString(kAddressCaption));
        return;
    }
    if (refuseBadAddress(text))
        return;
    if (findExact(text) >= 0) {
        CMessageBox::warn(m_screen, CString(kDuplicate), CString(kAddressCaption));
        return;
    }
    insertSorted(text);
    m_address->clear();
}

void CUserForm::OnDelete() {
    const int row = selectedRow();
    if (row < 0) {
        CMessageBox::warn(m_screen, CString(kNotSelected), CString(kAddressCaption));
        return;
    }
    {
        const QSignalBlocker quiet(m_list);
        delete m_list->takeItem(row);
        m_list->clearSelection();
    }
    m_address->clear();
}

void CUserForm::OnReplace() {
    const QString text = m_address->text();
    if (text.isEmpty()) {
        CMessageBox::warn(m_screen, CString(kNoAddress), CString(kAddressCaption));
        return;
    }
    const int row = selectedRow();
    if (row < 0) {
        CMessageBox::warn(m_screen, CString(kNotSelected), CString(kAddressCaption));
        return;
    }
    if (refuseBadAddress(text))
        return;
    // Another entry in another letter case is the same mailbox.
    if (const int same = findExact(text); same >= 0 && same != row) {
        CMessageBox::ok(m_screen, CString(kDuplicate), CString(kAddressCaption));
        return;
    }
    // The edit keeps its text; no other entry becomes selected.
    const QSignalBlocker quiet(m_list);
    delete m_list->takeItem(row);
    m_list->clearSelection();
    insertSorted(text);
}

void CUserForm::OnSelectionChanged() {
    const int row = selectedRow();
    if (row >= 0)
        m_address->setText(m_list->item(row)->text());
}

void CUserForm::insertSorted(const QString& text) {
    int row = 0;
    while (row < m_list->count() &&
           QString::compare(m_list->item(row)->text(), text, Qt::CaseInsensitive) <= 0)
        ++row;
    m_list->insertItem(row, text);
}

int CUserForm::findExact(const QString& text) const {
    for (int row = 0; row < m_list->count(); ++row)
        if (QString::compare(m_list->item(row)->text(), text, Qt::CaseInsensitive) == 0)
            return row;
    return -1;
}
