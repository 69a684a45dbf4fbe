#pragma once

#include <QStatusBar>

class QLabel;
class QProgressBar;
class QToolButton;

// The screens' status bar: pane 0 (100 pixels) carries the send thread's
// status text, pane 1 stretches over the rest and carries a progress bar while
// a batch of notifications is being sent. A small "?" button at the right end
// opens the about box.
class CProgressStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit CProgressStatusBar(QWidget* parent = nullptr);

    void setPaneText(int pane, const QString& text);
    QString paneText(int pane) const;

    // Shows the progress bar over the pane, or hides it for -1; returns the
    // pane it was over before (-1 when hidden).
    int setProgressPane(int pane);
    int progressPane() const { return m_progressPane; }

    QProgressBar* progressBar() const { return m_progress; }
    QLabel* pane(int index) const;
    QToolButton* aboutButton() const { return m_about; }

signals:
    void aboutRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placeProgress();

    QLabel* m_panes[2];
    QProgressBar* m_progress;
    QToolButton* m_about;
    int m_progressPane = -1;
};
