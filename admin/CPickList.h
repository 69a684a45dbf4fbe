#pragma once

#include "nvktl/CMapStringToString.h"

#include <functional>
#include <vector>

class CDbAccess;
class QComboBox;
class QListWidget;
class QWidget;

// The list shared by the deletion and selection screens: the groups, or the
// users of the group chosen in the screen's group combo box. Every entry
// keeps its key (group_id or user_id) at the same position.
class CPickList {
public:
    static constexpr const char* kNothingSelected = "選択されていません。";

    // What a deletion screen asks and does for each marked entry.
    struct Deletion {
        const char* caption;
        const char* nothingMarked;
        const char* deleted;
        // Asks about one entry; true when it is to go.
        std::function<bool(const CString& key, const CString& text)> confirm;
        // Deletes one entry inside the action's transaction; true on success.
        std::function<bool(CDbAccess& db, const CString& key)> erase;
    };

    CPickList(QWidget* screen, QListWidget* list);

    // The groups in order; withDeletionMark offers the marked ones too.
    void showGroups(bool withDeletionMark);
    // The users of the group chosen in groups, following every new choice.
    void showUsersOf(QComboBox* groups);

    // The key of the selected entry; empty, after saying so under caption,
    // when nothing is selected.
    CString chosenKey(const char* caption);

    // Every marked entry confirmed first, then the confirmed ones deleted
    // together: a failure leaves all of them in place. The list is read
    // again and the outcome shown.
    void deleteMarked(const Deletion& deletion);

private:
    void reload();
    void showUsers();

    QWidget* m_screen;
    QListWidget* m_list;
    QComboBox* m_groups = nullptr;
    std::vector<CString> m_groupIds;
    std::vector<CString> m_keys;
    bool m_withDeletionMark = true;
};
