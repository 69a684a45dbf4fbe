#pragma once

#include "nvktl/CMapStringToString.h"

#include <QString>

#include <vector>

class QComboBox;
class QLineEdit;
class QListWidget;
class QWidget;

// Pieces shared by the user and group screens: text conversion, the card
// field, the group combo box, the user list and the address list rules.
namespace userscreen {

inline QString qt(const CString& text) {
    return QString::fromUtf8(text.c_str(), text.GetLength());
}
inline CString cs(const QString& text) {
    return CString(text.toStdString());
}

inline constexpr const char* kReaderError = "エラーが発生しています。再起動してください";
inline constexpr const char* kPutCard = "カードをFeRiCaにセットしてください。";

// What the card field shows for a poll result: the card ID, or the prompt
// ("no") or the reader error ("err").
CString cardFieldText(const CString& card);
// A card ID is exactly 16 characters; the prompt and the error text are not.
inline bool holdsCardId(const CString& field) {
    return field.GetLength() == 16;
}

// The caption of messages that have none of their own: the program's name.
CString defaultCaption();

// Fills the combo box with every group in order; groupIds receives each
// entry's group_id at the same position.
void fillGroupCombo(QComboBox* combo, std::vector<CString>& groupIds);
// Fills the list with the users of the group, in order; userIds receives
// each entry's user_id at the same position.
void fillUserList(QListWidget* list, const CString& groupId, std::vector<CString>& userIds);

// The address list of the registration and change screens: kept sorted
// without regard to letter case, with its add / delete / replace buttons and
// the edit that takes one address. Every message has the caption
// "ユーザ登録".
class CAddressList {
public:
    static constexpr const char* kCaption = "ユーザ登録";
    static constexpr const char* kNoAddress = "メールアドレスが入力されていません";
    static constexpr const char* kDuplicate = "同じメールアドレスが追加されています";
    static constexpr const char* kNotSelected = "メールアドレスが選択されていません";

    CAddressList(QWidget* owner, QListWidget* list, QLineEdit* edit);

    void OnAdd();
    void OnDelete();
    void OnReplace();
    // Selecting an entry copies it into the edit.
    void OnSelectionChanged();

    // Adds the text where the sorted order puts it.
    void insertSorted(const QString& text);
    // The entry equal to text without regard to letter case, or -1.
    int findExact(const QString& text) const;
    std::vector<CString> entries() const;

private:
    // A refusal box for an unacceptable address; true when refused.
    bool refuseBadAddress(const QString& text);
    int selectedRow() const;

    QWidget* m_owner;
    QListWidget* m_list;
    QLineEdit* m_edit;
};

} // namespace userscreen
