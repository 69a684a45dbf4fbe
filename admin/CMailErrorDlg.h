#pragma once

#include "nvktl/CString.h"
#include "screens/CBaseDialog.h"

#include <functional>
#include <memory>

namespace Ui {
class CMailErrorDlg;
}
class CDbAccess;
class CListCtrlEx;

// The mails that did not go out, in two parts. "送信エラー": the failed
// deliveries, newest first; the selected ones can be sent again or their
// entries deleted, and either way they leave the list. "再送待ち": the
// deliveries that failed for a passing reason and wait for their next try,
// kept current while the screen is open; the selected ones can be made due at
// once. The actions act only on a selection and say what they did to how
// many rows. The window opens wide enough for every column, or at the size it
// was last left, and remembers its size. Ends with UserConfirmation ("終了")
// or AdminMenu ("戻る", close box, cancel key).
class CMailErrorDlg : public CBaseDialog {
public:
    static constexpr unsigned kTemplateId = 148;
    static constexpr const char* kCaption = "メールエラー情報";
    // printf formats of the messages, with the number of rows.
    static constexpr const char* kResent = "%d件を再送設定しました";
    static constexpr const char* kDeleted = "%d件の履歴を削除しました";
    static constexpr const char* kHurried = "%d件を今すぐ再送します";
    enum Column { ErrorNo, LoginId, Date, Kind, Group, Name, Mail, ErrorText };
    enum WaitingColumn { SendId, Address, VisitTime, WaitingKind, Tries, NextTry, LastError };

    explicit CMailErrorDlg(QWidget* parent = nullptr);
    ~CMailErrorDlg() override;

    CListCtrlEx* list() const;
    CListCtrlEx* waitingList() const;

    void OnResend();
    void OnDeleteHistory();
    void OnResendNow();

    void done(int result) override;

protected:
    bool OnInitDialog() override;
    void OnCancel() override;
    // The send thread's count of waiting mails: the waiting part follows it.
    void OnWaitingCount(int count) override;
    void showEvent(QShowEvent* event) override;

private:
    // Reads the waiting deliveries again; the selection stays on the same
    // deliveries, and an unchanged list is left as it is.
    void showWaiting();
    // Each action button is enabled while its list has a selection.
    void followSelections();
    // Runs write for the selected rows' keys (column key) in one transaction
    // and says what became of them: done with the number of rows, or that
    // nothing was stored. With leave, stored rows leave the list.
    void actOnSelected(CListCtrlEx* rows, int key, const char* done, bool leave,
                       const std::function<bool(CDbAccess& db, const CString& key)>& write);
    // Wide enough for every column as far as the screen allows, never
    // smaller than that, and at the size it was last left at.
    void openAtRememberedSize();

    std::unique_ptr<Ui::CMailErrorDlg> m_ui;
    bool m_sized = false;
};
