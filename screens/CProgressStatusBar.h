#pragma once

#include <QStatusBar>

class QLabel;
class QProgressBar;
class QToolButton;

// The screens' status bar: pane 0 carries the send thread's status text, pane
// 1 stretches over the rest and carries a progress bar while a batch of
// notifications is being sent. A small "?" button at the right end opens the
// about box. Pane 0 is 100 pixels wide and widens for a longer text up to
// half the bar; what still does not fit ends in "…" (the whole text is its
// tool tip and accessible name).
class CProgressStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit CProgressStatusBar(QWidget* parent = nullptr);

    void setPaneText(int pane, const QString& text);
    // The whole text, however much of it is shown.
    QString paneText(int pane) const;

    // Shows the progress bar over the pane, or hides it for -1; returns the
    // pane it was over before (-1 when hidden).
    int setProgressPane(int pane);

    QProgressBar* progressBar() const { return m_progress; }
    QLabel* pane(int index) const;
    QToolButton* aboutButton() const { return m_about; }

signals:
    void aboutRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeProgress();
    void showStatusText();

    QLabel* m_panes[2];
    QProgressBar* m_progress;
    QToolButton* m_about;
    int m_progressPane = -1;
    QString m_statusText;
};
