#pragma once

#include "nvktl/CString.h"
#include "screens/CBaseDialog.h"

#include <memory>
#include <vector>

namespace Ui {
class CUpdUserDlg;
}
namespace userscreen {
class CAddressList;
}

// User change: shows the user's old data and stores new data, a new card
// included. The user keeps its place in the order of users. Ends with -6
// ("戻る", cancel key: back to the user selection) or -1 ("終了").
class CUpdUserDlg : public CBaseDialog {
public:
    static constexpr unsigned kTemplateId = 137;
    static constexpr int kResultSelection = -6;
    static constexpr const char* kCaption = "ユーザ変更";
    static constexpr const char* kNoName = "ユーザ氏名が入力されていません。";
    static constexpr const char* kNoGroup = "グループが選択されていません。";
    static constexpr const char* kConfirm = "この情報に変更しますか？";
    static constexpr const char* kCardChanged = "ICカードが変更されています。旧のカードでアクセスで"
                                                "きなくなりますが、よろしいでしょうか？";
    static constexpr const char* kChanged = "変更しました。";
    // The administrators' group: moving into or out of it needs the card.
    static constexpr const char* kAdminGroup = "1";

    explicit CUpdUserDlg(QWidget* parent = nullptr);
    ~CUpdUserDlg() override;

    // The user to change (the old card ID), before the screen opens.
    void setUserId(const CString& userId) { m_oldCard = userId; }

    void OnTimer(int id) override;
    void OnRegister();

protected:
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    void readFields();
    void writeFields();
    void restartTimer();
    // Reads the user as stored under m_oldCard into the old-data fields.
    void loadOldData();
    // True, with the holder's name, when card belongs to a registered user.
    static bool cardHolder(const CString& card, CString& name);

    std::unique_ptr<Ui::CUpdUserDlg> m_ui;
    std::unique_ptr<userscreen::CAddressList> m_addresses;
    CString m_oldCard;
    CString m_oldName;
    CString m_oldAddresses;
    CString m_newCard;
    CString m_newName;
    CString m_address;
    CString m_oldGroupName;
    int m_timerId = 0;
    CString m_oldGroupId;
    std::vector<CString> m_groupIds;
};
