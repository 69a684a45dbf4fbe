#pragma once

#include "nvktl/CMapStringToString.h"
#include "nvktl/CTime.h"
#include "screens/CBaseDialog.h"

#include <memory>

namespace Ui {
class CDefSetDlg;
}
class QLineEdit;
class QPlainTextEdit;
enum class VisitKind;

// Mail settings: sender name and address, subject, the mail texts of each
// kind of visit (CMailTexts: placeholders checked, a preview as a parent sees
// the mail), and optionally an SMTP server with port, its encryption and an
// authentication account. The two check boxes are
// not stored: they are derived from the stored values when the screen opens,
// enable the fields they govern, and decide what is kept when it saves; typed
// values a box leaves out are dropped only when the administrator agrees.
// Ends with UserConfirmation ("終了") or AdminMenu ("戻る", cancel key).
class CDefSetDlg : public CBaseDialog {
public:
    static constexpr unsigned kTemplateId = 130;
    static constexpr int kPortMinimum = 0;
    static constexpr int kPortMaximum = 10000;
    static constexpr const char* kCaption = "諸設定";
    static constexpr const char* kNoAdminAddress = "管理者メールアドレスが入力されていません。\r\n"
                                                   "\r\nこのまま登録すると、既読通知機能がクリアさ"
                                                   "れますが、よろしいでしょうか";
    static constexpr const char* kDefaultSender = "伝言板管理者";
    static constexpr const char* kNoAdminName = "管理者名が入力されていません";
    static constexpr const char* kNoServer = "SMTPサーバが入力されていません";
    static constexpr const char* kNoPort = "ポート番号が入力されていません";
    static constexpr const char* kNoAccount = "アカウントが入力されていません";
    static constexpr const char* kNoPassword = "パスワードが入力されていません";
    static constexpr const char* kDropServer =
        "送信用メールサーバを指定しないため、入力されているSMTPサーバ名、ポート番号、アカウント"
        "とパスワードは保存されません。よろしいですか？";
    static constexpr const char* kDropAccount = "SMTP認証を使わないため、入力されているアカウントと"
                                                "パスワードは保存されません。よろしいですか？";
    static constexpr const char* kRegistered = "登録しました";
    static constexpr const char* kTestSent = "テストメールを送信しました。\r\n"
                                             "管理者メールアドレスに届いたことをご確認ください。";
    static constexpr const char* kTestFailed = "テストメールを送信できませんでした。\r\n";
    static constexpr const char* kTestSending = "送信中…";
    static constexpr const char* kNoTestAddress = "管理者メールアドレスが入力されていません。";
    static constexpr const char* kPlaceholderHelp = "差し込み: ";
    static constexpr const char* kEmptyIsDefault = "　空欄のときは既定の文面です。";
    static constexpr const char* kUnknownPlaceholder = "」は差し込みに使えません。使えるのは ";
    static constexpr const char* kPlaceholderEnd = " です。";
    static constexpr const char* kPreviewCaption = "メールのプレビュー";
    static constexpr const char* kPreviewSubject = "件名: ";
    // The test send waits this long for each step of the server at most.
    static constexpr unsigned kTestTimeout = 15000;

    explicit CDefSetDlg(QWidget* parent = nullptr);
    ~CDefSetDlg() override;

    void OnRegister();
    // Sends one notification-shaped mail with the values on the screen (saved
    // or not) to the administrator address, on a thread of its own; the
    // screen stays busy and cannot be left until the outcome is shown.
    void OnTestSend();
    // Shows the mail of the shown tab's kind as a parent will read it.
    void OnPreview();
    // Choosing encryption with an empty port fills in its usual port.
    void OnSecurityChosen(int index);
    // The up-down control: one step up (+1) or down (-1) from the port
    // field's number, kept within 0..10000.
    void OnPortStep(int step);

    bool eventFilter(QObject* watched, QEvent* event) override;

    void done(int result) override;

protected:
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    void updateData(bool fromControls);
    // Checks the values as saving does, clearing what the boxes leave out;
    // false (after saying why) when they cannot be used.
    bool checkValues();
    CMapStringToString storedValues() const;
    // false (after saying which and showing its tab) when a text holds an
    // unknown placeholder.
    bool checkMailTexts();
    // The notification of the shown tab's kind with the screen's values.
    CMapStringToString sampleMail(const NVKTL::CTime& now);
    QPlainTextEdit* bodyEdit(VisitKind kind) const;
    QLineEdit* subjectEdit(VisitKind kind) const;
    void setBusy(bool busy);
    // The fields of each check box's group are enabled while it is ticked.
    void followCheckBoxes();

    std::unique_ptr<Ui::CDefSetDlg> m_ui;
    CString m_mailUser;
    CString m_mailAddress;
    CString m_mailSubject;
    int m_useSmtp = 0;
    CString m_mailServer;
    CString m_mailPort;
    int m_useAuth = 0;
    CString m_mailAccount;
    CString m_mailPassword;
    CString m_mailSecurity;
    // The subjects and bodies of the kinds but mail_subject, by settings key.
    CMapStringToString m_mailTexts;
    bool m_testRunning = false;
};
