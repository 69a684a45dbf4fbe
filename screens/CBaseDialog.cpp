#include "screens/CBaseDialog.h"

#include "data/CDataRequest.h"
#include "nvktl/CMapStringToString.h"
#include "screens/CAboutDlg.h"
#include "screens/CCardPollCache.h"
#include "screens/CCardWatch.h"
#include "screens/CProgressStatusBar.h"
#include "screens/IApplication.h"
#include "screens/QtText.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

// Resources of the static library are registered by hand, once.
static void initPostonResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(poston);
        return true;
    }();
    (void)done;
}

CBaseDialog::CBaseDialog(unsigned templateId, QWidget* parent)
    : QDialog(parent), m_templateId(templateId), m_baseTimer(new QTimer(this)) {
    setWindowIcon(programIcon());
    setFont(japaneseFont());
    m_baseTimer->setTimerType(Qt::PreciseTimer);
    connect(m_baseTimer, &QTimer::timeout, this, [this] {
        if (m_baseTimerId != 0)
            OnTimer(m_baseTimerId);
    });
}

CBaseDialog::~CBaseDialog() {
    stopAllTimers();
    detachSendThread();
}

QIcon CBaseDialog::programIcon() {
    initPostonResources();
    return QIcon(QStringLiteral(":/poston/poston.png"));
}

QFont CBaseDialog::japaneseFont(int pointSize) {
    QFont font;
    font.setFamilies({QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP"),
                      QStringLiteral("IPAGothic"), QStringLiteral("sans-serif")});
    if (pointSize > 0)
        font.setPointSize(pointSize);
    return font;
}

void CBaseDialog::clearDefaultButtons(QWidget* window) {
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
}

void CBaseDialog::pressOnEnter(QWidget* focused, QAbstractButton* fallback) {
    QAbstractButton* button = qobject_cast<QPushButton*>(focused);
    if (button == nullptr)
        button = fallback;
    if (button != nullptr && button->isEnabled() && button->isVisible())
        button->click();
}

void CBaseDialog::focusFirstField(QWidget* window) {
    QWidget* list = nullptr;
    for (QWidget* w = window->nextInFocusChain(); w != window; w = w->nextInFocusChain()) {
        if (!w->isEnabled() || !w->isVisibleTo(window) || !(w->focusPolicy() & Qt::TabFocus))
            continue;
        const auto* line = qobject_cast<QLineEdit*>(w);
        const auto* text = qobject_cast<QPlainTextEdit*>(w);
        if ((line != nullptr && !line->isReadOnly()) || (text != nullptr && !text->isReadOnly())) {
            w->setFocus();
            return;
        }
        if (list == nullptr && (qobject_cast<QAbstractItemView*>(w) || qobject_cast<QComboBox*>(w)))
            list = w;
    }
    if (list != nullptr)
        list->setFocus();
}

void CBaseDialog::setEnterButton(QAbstractButton* button, QWidget* field) {
    m_enterButtons[field] = button;
}

void CBaseDialog::setVisible(bool visible) {
    if (visible && !m_initialised) {
        m_initialised = true;
        m_inInit = true;
        OnInitDialog();
        m_inInit = false;
        if (m_endedInInit) {
            // exec() starts its event loop only after show() has returned, so a
            // screen that ended while it initialised ends once that loop runs.
            QDialog::setVisible(true);
            const int result = m_endResult;
            QMetaObject::invokeMethod(
                this, [this, result] { done(result); }, Qt::QueuedConnection);
            return;
        }
    }
    QDialog::setVisible(visible);
}

bool CBaseDialog::OnInitDialog() {
    clearDefaultButtons(this);
    connectSharedButtons();
    focusFirstField(this);
    startBaseTimer();
    attachSendThread();

    m_statusBar = new CProgressStatusBar(this);
    m_statusBar->setObjectName(QStringLiteral("statusBar"));
    connect(m_statusBar, &CProgressStatusBar::aboutRequested, this, &CBaseDialog::showAboutBox);
    m_statusBar->setPaneText(0, QStringLiteral(" "));
    // The status bar sits below the screen's own layout: the dialog keeps a
    // margin for it and places it at the bottom on every resize.
    const int barHeight = m_statusBar->sizeHint().height();
    QMargins margins = contentsMargins();
    margins.setBottom(margins.bottom() + barHeight);
    setContentsMargins(margins);
    // Children get their real sizes now, before the screen measures them.
    if (layout() != nullptr)
        layout()->activate();
    if (height() < minimumSizeHint().height())
        resize(width(), minimumSizeHint().height());
    layOutStatusBar();
    m_statusBar->show();
    return true;
}

void CBaseDialog::connectSharedButtons() {
    if (auto* end = findChild<QPushButton*>(QStringLiteral("endButton")))
        connect(end, &QPushButton::clicked, this, &CBaseDialog::OnEnd, Qt::UniqueConnection);
    if (auto* back = findChild<QPushButton*>(QStringLiteral("backButton")))
        connect(back, &QPushButton::clicked, this, &CBaseDialog::OnBack, Qt::UniqueConnection);
}

void CBaseDialog::layOutStatusBar() {
    if (m_statusBar == nullptr)
        return;
    const int barHeight = m_statusBar->sizeHint().height();
    m_statusBar->setGeometry(0, height() - barHeight, width(), barHeight);
}

void CBaseDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    layOutStatusBar();
}

void CBaseDialog::startBaseTimer() {
    if (m_baseTimerId != 0)
        return;
    m_baseTimerId = static_cast<int>(m_templateId) + 50;
    m_baseTimer->start(kBaseTimerPeriod);
}

void CBaseDialog::stopBaseTimer() {
    m_baseTimer->stop();
    m_baseTimerId = 0;
}

int CBaseDialog::setScreenTimer(int id, int periodMs) {
    startBaseTimer();
    QTimer*& timer = m_screenTimers[id];
    if (timer == nullptr) {
        timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, [this, id] { OnTimer(id); });
    }
    timer->start(periodMs);
    return id;
}

int CBaseDialog::setCardTimer(int id, int periodMs) {
    setScreenTimer(id, periodMs);
    if (m_cardTimers.insert(id).second)
        connect(&CCardWatch::instance(), &CCardWatch::cardsChanged, this,
                [this, id] { lookAtReader(id); });
    // A card that lies there as the screen opens (the next visitor in a
    // queue) is seen now, not one period later; and the screen's first
    // frame already shows what the look found.
    lookAtReader(id);
    return id;
}

void CBaseDialog::lookAtReader(int id) {
    // Not while stopped around a sub-screen, nor inside its own handler (a
    // message box it shows runs the event loop).
    if (m_inCardTick || !isScreenTimerActive(id))
        return;
    m_inCardTick = true;
    OnTimer(id);
    m_inCardTick = false;
}

void CBaseDialog::killScreenTimer(int id) {
    stopBaseTimer();
    auto found = m_screenTimers.find(id);
    if (found != m_screenTimers.end())
        found->second->stop();
}

bool CBaseDialog::isScreenTimerActive(int id) const {
    auto found = m_screenTimers.find(id);
    return found != m_screenTimers.end() && found->second->isActive();
}

void CBaseDialog::stopAllTimers() {
    stopBaseTimer();
    for (auto& [id, timer] : m_screenTimers)
        timer->stop();
}

void CBaseDialog::OnTimer(int id) {
    if (id != m_baseTimerId || id == 0)
        return;
    // Keeps the reader's last-card memory current, so that a newly presented
    // card beeps on screens that do not poll themselves.
    CCardPollCache::get(CCardPollCache::nowMs(), pollReader);
}

void CBaseDialog::attachSendThread() {
    if (m_attached)
        return;
    if (IApplication* app = theApp()) {
        app->attachSendWindow(this);
        m_attached = true;
    }
}

void CBaseDialog::detachSendThread() {
    if (!m_attached)
        return;
    m_attached = false;
    if (IApplication* app = theApp())
        app->detachSendWindow(this);
}

void CBaseDialog::done(int result) {
    // The send thread must be off this window before it can go away.
    stopAllTimers();
    detachSendThread();
    if (m_inInit) {
        m_endedInInit = true;
        m_endResult = result;
        setResult(result);
        return;
    }
    QDialog::done(result);
}

void CBaseDialog::reject() {
    OnCancel();
}

void CBaseDialog::OnCancel() {
    done(kResultConfirm);
}

void CBaseDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        event->accept();
        auto found = m_enterButtons.find(focusWidget());
        if (found == m_enterButtons.end())
            found = m_enterButtons.find(nullptr);
        pressOnEnter(focusWidget(), found == m_enterButtons.end() ? nullptr : found->second);
        return;
    }
    case Qt::Key_Escape:
        event->accept();
        OnCancel();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CBaseDialog::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* about = menu.addAction(QStringLiteral("NVKぽすとん のﾊﾞｰｼﾞｮﾝ情報(&A)..."));
    if (menu.exec(event->globalPos()) == about)
        showAboutBox();
}

void CBaseDialog::showAboutBox() {
    const bool wasRunning = m_baseTimerId != 0;
    stopBaseTimer();
    CAboutDlg about(this);
    about.exec();
    // The screen's own timer may have ended the screen meanwhile.
    if (wasRunning && isVisible())
        startBaseTimer();
}

DataResult CBaseDialog::OnDataRequest(CDataRequest& request) {
    const DataResult result = runDataRequest(request);
    if (const auto* waiting = std::get_if<DataRequest::GetWaitingCount>(&request.operation))
        OnWaitingCount(waiting->count);
    return result;
}

void CBaseDialog::OnProgressStart(int position, int maximum) {
    if (m_statusBar == nullptr)
        return;
    m_statusBar->setProgressPane(1);
    m_statusBar->progressBar()->setRange(0, maximum);
    m_statusBar->progressBar()->setValue(position);
}

void CBaseDialog::OnProgressEnd() {
    if (m_statusBar == nullptr)
        return;
    m_statusBar->setPaneText(0, QString());
    m_statusBar->setProgressPane(-1);
}

void CBaseDialog::OnStatusText(const CString& text) {
    if (m_statusBar != nullptr)
        m_statusBar->setPaneText(0, qt(text));
}

// The client area's rectangle, for saving and restoring alike: the frame's
// size is known only once a window manager has decorated the window, and
// mixing the two would move the window by half a title bar on every start.
QPoint CBaseDialog::windowCentre() const {
    const QRect area = geometry();
    const int right = area.x() + area.width();
    const int bottom = area.y() + area.height();
    return QPoint((area.x() + right) / 2, (area.y() + bottom) / 2);
}

void CBaseDialog::centreWindowOn(int x, int y) {
    const int w = width();
    const int h = height();
    setGeometry(x - w / 2, y - h / 2, w, h);
    layOutStatusBar();
}

void CBaseDialog::hideAndShrink(QWidget* control) {
    if (control == nullptr || control->isHidden())
        return;
    const int controlHeight = control->height();
    control->hide();
    // The layout's minimum must forget the control before the window shrinks.
    if (layout() != nullptr)
        layout()->activate();
    resize(width(), height() - controlHeight);
    layOutStatusBar();
}

void CBaseDialog::placeFromSettings(const CMapStringToString& settings) {
    const CString top = settings.Value("window_top");
    const CString left = settings.Value("window_left");
    if (top.IsEmpty() || left.IsEmpty())
        return;
    centreWindowOn(NVKTL::LeadingNumber(left.str()), NVKTL::LeadingNumber(top.str()));
}
