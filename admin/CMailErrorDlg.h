#pragma once

#include "nvktl/CString.h"
#include "screens/CBaseDialog.h"

#include <memory>

namespace Ui {
class CMailErrorDlg;
}
class CListCtrlEx;

// The failed notification deliveries, newest first: the selected visits can
// be sent again, the selected entries deleted. The window can be enlarged but
// not made smaller than it opened; the list grows with it and the two action
// buttons stay side by side around the middle. Ends with UserConfirmation
// ("終了") or AdminMenu ("戻る", close box, cancel key).
class CMailErrorDlg : public CBaseDialog {
public:
    static constexpr unsigned kTemplateId = 148;
    static constexpr const char* kCaption = "メールエラー情報";
    static constexpr const char* kResent = "再送設定しました";
    static constexpr const char* kDeleted = "履歴削除しました";
    enum Column { ErrorNo, LoginId, Date, Group, Name, Mail, ErrorText };

    explicit CMailErrorDlg(QWidget* parent = nullptr);
    ~CMailErrorDlg() override;

    CListCtrlEx* list() const;

    void OnResend();
    void OnDeleteHistory();

protected:
    bool OnInitDialog() override;
    void OnCancel() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnSize(int cx, int cy);

    std::unique_ptr<Ui::CMailErrorDlg> m_ui;
    int m_openWidth = 0;
    int m_openHeight = 0;
    int m_bottomGap = 0;
    int m_rightMargin = 0;
};
