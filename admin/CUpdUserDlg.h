#pragma once

#include "nvktl/CString.h"
#include "screens/CBaseDialog.h"

#include <memory>

namespace Ui {
class CUpdUserDlg;
}
class CUserForm;

// User change: shows the user's old data and stores new data, a new card
// included. The user keeps its place in the order of users. Ends with
// UserSelection ("戻る", cancel key) or UserConfirmation ("終了").
class CUpdUserDlg : public CBaseDialog {
public:
    static constexpr unsigned kTemplateId = 137;
    static constexpr int kResultSelection = resultOf(ScreenCode::UserSelection);
    static constexpr const char* kCaption = "ユーザ変更";
    static constexpr const char* kConfirm = "この情報に変更しますか？";
    static constexpr const char* kCardChanged = "ICカードが変更されています。旧のカードでアクセスで"
                                                "きなくなりますが、よろしいでしょうか？";
    static constexpr const char* kChanged = "変更しました。";

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
    void restartTimer();
    // Says why the change cannot go ahead and waits for a card again.
    void refuse(const CString& text);
    // Reads the user as stored under m_oldCard into the old-data fields.
    void loadOldData();
    // True, with the holder's name, when card belongs to a registered user.
    static bool cardHolder(const CString& card, CString& name);

    std::unique_ptr<Ui::CUpdUserDlg> m_ui;
    std::unique_ptr<CUserForm> m_form;
    CString m_oldCard;
    CString m_oldName;
    bool m_oldNoticeOff = false;
    CString m_oldAddresses;
    CString m_oldGroupId;
    int m_timerId = 0;
};
