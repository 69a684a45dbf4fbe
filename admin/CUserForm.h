#pragma once

#include "nvktl/CMapStringToString.h"
#include "screens/CardPoll.h"

#include <QString>

#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QWidget;

namespace userform {

inline constexpr const char* kReaderError = "エラーが発生しています。再起動してください";
inline constexpr const char* kPutCard = "カードをFeLiCaにセットしてください。";
// The caption of messages that have none of their own: the program's name.
inline constexpr const char* kDefaultCaption = "NVKぽすとん";
// The administrators' group: its users' cards open the administrator menu.
inline constexpr const char* kAdminGroup = "1";

// What a card field shows for a poll of the reader: the card ID, the prompt
// while no card is there, or the reader error.
inline CString cardFieldText(const CardPoll& card) {
    return card.textOr(kPutCard, kReaderError);
}
// A card ID is exactly 16 characters; the prompt and the error text are not.
inline bool holdsCardId(const CString& field) {
    return field.GetLength() == 16;
}

// Fills the combo box with every group in order; groupIds receives each
// entry's group_id at the same position.
void fillGroupCombo(QComboBox* combo, std::vector<CString>& groupIds);

} // namespace userform

// The form shared by the user registration and change screens, found in the
// screen's layout by role: the card field written by the card poll
// (cardIdEdit), the name (nameEdit), the group (groupCombo), whether the
// family is left without notices (noticeOffCheck) and the
// addresses: the edit that takes one (addressEdit) and the list kept sorted
// without regard to letter case (addressList) with its add, delete and
// replace buttons. Address messages have the caption "ユーザ登録" on both.
class CUserForm {
public:
    static constexpr const char* kAddressCaption = "ユーザ登録";
    static constexpr const char* kNoAddress = "メールアドレスが入力されていません";
    static constexpr const char* kDuplicate = "同じメールアドレスが追加されています";
    static constexpr const char* kNotSelected = "メールアドレスが選択されていません";
    static constexpr const char* kNoName = "ユーザ氏名が入力されていません。";
    static constexpr const char* kNoGroup = "グループが選択されていません。";
    static constexpr const char* kAdminChosen =
        "管理者グループを選ぶと、このユーザのカードで管理者メ"
        "ニューを開けるようになります。よろしいですか？";

    explicit CUserForm(QWidget* screen);

    CString card() const;
    void showCard(const CString& text);
    CString name() const;
    void setName(const CString& name);
    CString typedAddress() const;
    bool noticeOff() const;
    void setNoticeOff(bool off);

    // The refusal of a name, group or typed address the screen cannot store,
    // shown with caption; false when the form is complete.
    bool refuseIncomplete(const CString& caption);

    // Every group; the first one that is not the administrators' is chosen.
    void fillGroups();
    void selectGroup(const CString& groupId);
    void selectLastGroup();
    // The chosen group's group_id, empty without a choice.
    CString groupId() const;

    // The stored addresses ("\r\n" between them) into the list.
    void showAddresses(const CString& stored);
    // The list's entries, in order.
    std::vector<CString> addresses() const;
    // Name, typed address, list and "通知しない" emptied, for the next user; a choice of
    // the administrators' group is not kept, so that it is never made unasked.
    void clearUser();

    void OnAdd();
    void OnDelete();
    void OnReplace();
    // Selecting an entry copies it into the edit.
    void OnSelectionChanged();
    // A group chosen by hand; choosing the administrators' group asks first,
    // and No keeps the group chosen before.
    void OnGroupChosen(int index);

private:
    // Adds the text where the sorted order puts it.
    void insertSorted(const QString& text);
    // The entry equal to text without regard to letter case, or -1.
    int findExact(const QString& text) const;
    int selectedRow() const;
    void selectFirstOrdinaryGroup();
    // Chooses the entry without asking, as the form's own choice.
    void showGroup(int index);
    // A refusal box for an unacceptable address; true when refused.
    bool refuseBadAddress(const QString& text);

    QWidget* m_screen;
    QLineEdit* m_card;
    QLineEdit* m_name;
    QLineEdit* m_address;
    QListWidget* m_list;
    QComboBox* m_groups;
    QCheckBox* m_noticeOff;
    std::vector<CString> m_groupIds;
    // The group chosen last, by the form or accepted from a choice by hand.
    int m_shownGroup = -1;
};
