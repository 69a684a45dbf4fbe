#pragma once

#include "data/CDbAccess.h"
#include "screens/CBaseDialog.h"

#include <QString>

#include <functional>
#include <memory>

namespace Ui {
class CHistoryDlg;
}
class CListCtrlEx;

// The office's view of the visits: the history filtered by a range of days,
// a group and a part of the name, newest first, a page at a time, with the
// state of each visit's notice to every address; in the arrival/departure
// mode also the pupils who are in now. The filtered history and the roster
// are saved as spreadsheet files (history page by page, with a progress bar
// and a way to stop), and a roster file is registered after a preview of
// every line. The office also sets the daily summary's time and the
// retention limit of the visits here. Opens on today. Ends with UserConfirmation ("終了") or
// AdminMenu ("戻る", close box, cancel key).
class CHistoryDlg : public CBaseDialog {
public:
    static constexpr unsigned kTemplateId = 150;
    static constexpr const char* kCaption = "来所履歴";
    static constexpr int kPageVisits = 500;
    enum Column { Date, Kind, Group, Name, Terminal, Notices };

    explicit CHistoryDlg(QWidget* parent = nullptr);
    ~CHistoryDlg() override;

    CListCtrlEx* list() const;
    CListCtrlEx* presentList() const;

    // Where a file is saved or read from: a file dialog unless tests choose
    // (an empty name gives up).
    using FileChooser = std::function<QString(bool save, const QString& suggested)>;
    static void setFileChooser(FileChooser chooser);

    void OnShow();
    void OnMore();
    void OnExportHistory();
    void OnExportRoster();
    void OnImportRoster();
    // Stores the daily summary's time and the retention limit; a new limit
    // is shown with what it deletes and confirmed first.
    void OnSaveSettings();

protected:
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    // The filter of the fields, from its first page.
    CDbAccess::HistoryFilter filterOfFields() const;
    void showPresent();
    QString chooseFile(bool save, const QString& suggested);

    std::unique_ptr<Ui::CHistoryDlg> m_ui;
    CDbAccess::HistoryFilter m_next;
    int m_startHour = 0;
    bool m_exporting = false;
    bool m_cancelExport = false;
};
