#pragma once

#include "admin/RosterCsv.h"

#include <QDialog>

#include <memory>

namespace Ui {
class CRosterImportDlg;
}
class CListCtrlEx;

// The preview of a roster file: every line with what it would do (added,
// changed, unchanged, a group) and its problems, and the groups it would
// create. Nothing is stored until "登録" is pressed, and only when no line
// has a problem; then the whole file is stored in one transaction.
// Ends with Accepted once stored, Rejected otherwise.
class CRosterImportDlg : public QDialog {
public:
    static constexpr const char* kCaption = "名簿の登録";
    enum Column { Line, Change, Group, Card, Name, Mails, Problems };

    explicit CRosterImportDlg(RosterCsv::Preview preview, QWidget* parent = nullptr);
    ~CRosterImportDlg() override;

    CListCtrlEx* list() const;
    void OnRegister();

private:
    std::unique_ptr<Ui::CRosterImportDlg> m_ui;
    RosterCsv::Preview m_preview;
};
