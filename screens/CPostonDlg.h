#pragma once

#include "screens/CBaseDialog.h"

#include <functional>
#include <memory>

namespace Ui {
class CPostonDlg;
}
class QPushButton;

// The user confirmation screen (dialog 102), the program's resting screen: it
// polls the reader and ends with Greeting for a registered user's card (its message
// text is then the card id), with AdminMenu when an administrator passed the check
// behind "諸設定", and with Leave when the window is closed. It restores and
// saves its centre on the desktop and can start minimised. While mails wait
// for another try, a badge beside "諸設定" says how many.
class CPostonDlg : public CBaseDialog {
    Q_OBJECT
public:
    static constexpr unsigned kTemplateId = 102;
    static constexpr int kResultGreeting = resultOf(ScreenCode::Greeting);
    static constexpr int kResultLeave = resultOf(ScreenCode::Leave);
    // printf format of the badge, with the number of waiting mails.
    static constexpr const char* kWaiting = "未送信 %d件";

    // The administrator's card check behind "諸設定": a modal sub-screen that
    // returns 1 when an administrator's card was presented. The application
    // installs it (the check screen belongs to the administration screens);
    // without one, "諸設定" lets nobody through.
    using AdminCheck = std::function<int(QWidget* parent)>;
    static void setAdminCheck(AdminCheck check);

    explicit CPostonDlg(QWidget* parent = nullptr);
    ~CPostonDlg() override;

    // The message field's text; the recognised card id after Greeting.
    CString getMessage() const;

    void OnTimer(int id) override;
    // "諸設定".
    void OnSettings();

protected:
    bool OnInitDialog() override;
    void OnCancel() override;
    void OnWaitingCount(int count) override;
    void changeEvent(QEvent* event) override;

private:
    void showMessage(const char* text);
    // Writes the window's centre as window_top / window_left, only while the
    // window is neither minimised nor maximised.
    void savePosition();
    void writeCentre(const QPoint& centre);

    std::unique_ptr<Ui::CPostonDlg> m_ui;
    struct Texts;
    std::unique_ptr<Texts> m_texts;
};
