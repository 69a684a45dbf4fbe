#pragma once

// Qt first: moc cannot read the C++20 library headers that come before it.
#include <QDialog>

#include "data/IMigrationProgress.h"
#include "nvktl/CEvent.h"

#include <memory>

class QTimer;
namespace Ui {
class CDataIkouDlg;
}

// The migration screen: moves the contents of the data file into the master
// copy that waits in the data folder, showing which table is being copied and
// how far. The whole migration runs before the screen is first shown; its
// first timer tick closes it (result 1). It has no close button, and the
// cancel key does nothing.
class CDataIkouDlg : public QDialog, public IMigrationProgress {
    Q_OBJECT
public:
    static constexpr int kTimerPeriodMs = 200;
    static constexpr int kResultDone = 1;

    explicit CDataIkouDlg(QWidget* parent = nullptr);
    ~CDataIkouDlg() override;

    // The migration's own answer: 0 done or nothing to do, -1 data file kept.
    int migrationResult() const { return m_migrationResult; }

    void progressStart(int position, int maximum) override;
    void progressEnd() override;
    void statusText(const CString& text) override;

    void setVisible(bool visible) override;
    void reject() override;

protected:
    // Runs the migration and starts the timer; once, before the first show.
    virtual bool OnInitDialog();
    // Runs the migration on a fresh CDbAccess and sets the done event.
    void OnMigrate();
    void OnTimer();

private:
    std::unique_ptr<Ui::CDataIkouDlg> m_ui;
    NVKTL::CEvent m_doneEvent;
    QTimer* m_timer;
    bool m_initialised = false;
    int m_migrationResult = 0;
};
