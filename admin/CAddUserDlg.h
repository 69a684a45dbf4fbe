#pragma once

#include "nvktl/CString.h"
#include "screens/CBaseDialog.h"

#include <memory>

namespace Ui {
class CAddUserDlg;
}
class CUserForm;

// User registration: the card on the reader gives the user ID; the name, the
// addresses and the group are typed or chosen, and a new group can be added
// on the spot. Ends with AdminMenu ("戻る", cancel key) or UserConfirmation ("終了").
class CAddUserDlg : public CBaseDialog {
public:
    static constexpr unsigned kTemplateId = 129;
    static constexpr const char* kCaption = "ユーザ登録";
    static constexpr const char* kConfirm = "この情報をユーザとして登録しますか？";
    static constexpr const char* kOverwrite = "このユーザはすでに存在しています。上書きしますか？";
    static constexpr const char* kRegistered = "登録しました。";

    explicit CAddUserDlg(QWidget* parent = nullptr);
    ~CAddUserDlg() override;

    void OnTimer(int id) override;
    void OnAddGroup();
    void OnRegister();

protected:
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    void restartTimer();
    // Says why the registration cannot go ahead and waits for a card again.
    void refuse(const CString& text);
    // After a registration: empties card, name and addresses and waits for
    // the next card.
    void readyForNextUser();

    std::unique_ptr<Ui::CAddUserDlg> m_ui;
    std::unique_ptr<CUserForm> m_form;
    // The card registered last, until it has been lifted from the reader.
    CString m_registeredCard;
    int m_timerId = 0;
};
