#include "screens/CProgressStatusBar.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QToolButton>

#include <algorithm>

namespace {
constexpr int kStatusPaneWidth = 100;
}

CProgressStatusBar::CProgressStatusBar(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(false);
    m_panes[0] = new QLabel(QStringLiteral(" "), this);
    m_panes[0]->setObjectName(QStringLiteral("statusTextLabel"));
    m_panes[0]->setFixedWidth(kStatusPaneWidth);
    m_statusText = m_panes[0]->text();
    m_panes[1] = new QLabel(this);
    m_panes[1]->setObjectName(QStringLiteral("progressPaneLabel"));
    addWidget(m_panes[0], 0);
    addWidget(m_panes[1], 1);

    m_about = new QToolButton(this);
    m_about->setObjectName(QStringLiteral("aboutButton"));
    m_about->setText(QStringLiteral("?"));
    m_about->setAutoRaise(true);
    m_about->setFocusPolicy(Qt::NoFocus);
    m_about->setToolTip(QStringLiteral("NVKぽすとん のﾊﾞｰｼﾞｮﾝ情報"));
    m_about->setAccessibleName(m_about->toolTip());
    addPermanentWidget(m_about);
    connect(m_about, &QToolButton::clicked, this, &CProgressStatusBar::aboutRequested);

    // A child of the status bar itself, laid over pane 1 by hand, so that the
    // pane's own layout never changes while a batch runs.
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progressBar"));
    m_progress->setTextVisible(false);
    m_progress->hide();
    m_panes[0]->installEventFilter(this);
    m_panes[1]->installEventFilter(this);
}

QLabel* CProgressStatusBar::pane(int index) const {
    return (index == 0 || index == 1) ? m_panes[index] : nullptr;
}

void CProgressStatusBar::setPaneText(int pane, const QString& text) {
    if (pane == 0) {
        m_statusText = text;
        showStatusText();
    } else if (QLabel* label = this->pane(pane)) {
        label->setText(text);
    }
}

QString CProgressStatusBar::paneText(int pane) const {
    if (pane == 0)
        return m_statusText;
    QLabel* label = this->pane(pane);
    return label ? label->text() : QString();
}

void CProgressStatusBar::showStatusText() {
    QLabel* label = m_panes[0];
    const QFontMetrics metrics(label->font());
    const int frame = label->width() - label->contentsRect().width();
    const int wanted = metrics.horizontalAdvance(m_statusText) + frame;
    label->setFixedWidth(
        std::clamp(wanted, kStatusPaneWidth, std::max(kStatusPaneWidth, width() / 2)));
    const QString shown = metrics.elidedText(m_statusText, Qt::ElideRight, label->width() - frame);
    label->setText(shown);
    label->setToolTip(shown == m_statusText ? QString() : m_statusText);
    label->setAccessibleName(m_statusText);
}

void CProgressStatusBar::resizeEvent(QResizeEvent* event) {
    QStatusBar::resizeEvent(event);
    showStatusText();
}

int CProgressStatusBar::setProgressPane(int pane) {
    const int previous = m_progressPane;
    m_progressPane = this->pane(pane) ? pane : -1;
    if (m_progressPane < 0) {
        m_progress->hide();
    } else {
        placeProgress();
        m_progress->show();
        m_progress->raise();
    }
    return previous;
}

void CProgressStatusBar::placeProgress() {
    if (m_progressPane < 0)
        return;
    QLabel* label = m_panes[m_progressPane];
    m_progress->setGeometry(QRect(label->mapTo(this, QPoint(0, 0)), label->size()));
}

bool CProgressStatusBar::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize || event->type() == QEvent::Move)
        placeProgress();
    return QStatusBar::eventFilter(watched, event);
}
