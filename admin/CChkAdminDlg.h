#pragma once

// Qt first: moc cannot read the C++20 library headers that come before it.
#include <QDialog>

#include "nvktl/CMapStringToString.h"

#include <memory>

class CDbAccess;
class QKeyEvent;
class QTimer;
enum class ScreenCode : int;
namespace Ui {
class CChkAdminDlg;
}

// The first-administrator registration: shown whenever no administrator
// exists, it registers the person whose card lies on the reader as a user of
// the administrators' group 1. Result 1 after a registration, 2 when left.
// A plain dialog: no status bar, and the send thread stays without a window.
class CChkAdminDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr unsigned kTemplateId = 132;
    static constexpr int kTimerPeriodMs = 200;
    static constexpr int kResultRegistered = 1;
    static constexpr int kResultLeft = 2;

    static constexpr const char* kConfirm = "この情報をユーザとして登録しますか？";
    static constexpr const char* kOverwrite = "このユーザはすでに存在しています。上書きしますか？";
    static constexpr const char* kConfirmCaption = "ユーザ登録";
    static constexpr const char* kRegistered = "登録しました。";

    explicit CChkAdminDlg(QWidget* parent = nullptr);
    ~CChkAdminDlg() override;

    // The screen loop's check before every screen: the code to go on with
    // when an administrator exists; else the registration is shown, and the
    // loop goes on with the administrator menu after a registration or
    // ends (leave) when it was left.
    static ScreenCode startCheck(CDbAccess& db, ScreenCode code);

    bool isTimerActive() const;

    void setVisible(bool visible) override;
    void reject() override;

protected:
    virtual bool OnInitDialog();
    // Enter registers, unless another button has the focus.
    void keyPressEvent(QKeyEvent* event) override;
    void OnTimer();
    void OnRegister();

private:
    void readFields();
    void writeFields();
    void startTimer();

    std::unique_ptr<Ui::CChkAdminDlg> m_ui;
    QTimer* m_timer;
    bool m_initialised = false;
    CString m_card;
    CString m_name;
    CString m_mail;
};
