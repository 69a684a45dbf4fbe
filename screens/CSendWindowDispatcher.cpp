#include "screens/CSendWindowDispatcher.h"

#include "data/CDataRequest.h"
#include "nvktl/CString.h"
#include "screens/CBaseDialog.h"

#include <QMetaObject>
#include <QThread>

CSendWindowDispatcher::CSendWindowDispatcher(QObject* parent) : QObject(parent) {}

CSendWindowDispatcher::~CSendWindowDispatcher() {
    shutdown();
}

bool CSendWindowDispatcher::onUiThread() const {
    return QThread::currentThread() == thread();
}

void CSendWindowDispatcher::bind(CBaseDialog* screen) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_closed)
        m_screen = screen;
}

void CSendWindowDispatcher::unbind(CBaseDialog* screen) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_screen != screen)
        return;
    m_screen = nullptr;
    answerWaiting(lock);
}

void CSendWindowDispatcher::shutdown() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_closed = true;
    m_screen = nullptr;
    answerWaiting(lock);
}

void CSendWindowDispatcher::answerWaiting(std::unique_lock<std::mutex>&) {
    for (Request* request : m_waiting) {
        request->result = DataResult::NoWindow;
        request->answered = true;
    }
    m_waiting.clear();
    m_answered.notify_all();
}

CBaseDialog* CSendWindowDispatcher::boundScreen() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_screen;
}

std::size_t CSendWindowDispatcher::waitingRequests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_waiting.size();
}

DataResult CSendWindowDispatcher::dataRequest(CDataRequest& data) {
    if (onUiThread()) {
        CBaseDialog* screen = boundScreen();
        return screen ? screen->OnDataRequest(data) : DataResult::NoWindow;
    }

    Request request{&data, DataResult::NoWindow, false};
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_screen == nullptr)
        return DataResult::NoWindow;
    m_waiting.push_back(&request);
    // Queued, never blocking: the user-interface thread may itself be waiting
    // for this worker, and then only unbinding can end this wait.
    QMetaObject::invokeMethod(this, &CSendWindowDispatcher::serve, Qt::QueuedConnection);
    m_answered.wait(lock, [&request] { return request.answered; });
    return request.result;
}

void CSendWindowDispatcher::serve() {
    // One queued call per request, but a call may find several waiting (or
    // none, when unbinding answered them first).
    for (;;) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_waiting.empty())
            return;
        Request* request = m_waiting.front();
        m_waiting.pop_front();
        CBaseDialog* screen = m_screen;
        lock.unlock();

        // The request is off the waiting list, so unbinding during the data
        // operation cannot answer it twice; its worker waits until it is done.
        const DataResult result =
            screen ? screen->OnDataRequest(*request->request) : DataResult::NoWindow;

        lock.lock();
        request->result = result;
        request->answered = true;
        m_answered.notify_all();
    }
}

void CSendWindowDispatcher::progressStart(int position, int maximum) {
    if (boundScreen() == nullptr)
        return;
    QMetaObject::invokeMethod(
        this,
        [this, position, maximum] {
            if (CBaseDialog* screen = boundScreen())
                screen->OnProgressStart(position, maximum);
        },
        Qt::QueuedConnection);
}

void CSendWindowDispatcher::progressEnd() {
    if (boundScreen() == nullptr)
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (CBaseDialog* screen = boundScreen())
                screen->OnProgressEnd();
        },
        Qt::QueuedConnection);
}

void CSendWindowDispatcher::statusText(const char* text) {
    if (boundScreen() == nullptr)
        return;
    CString copy(text ? text : "");
    QMetaObject::invokeMethod(
        this,
        [this, copy] {
            if (CBaseDialog* screen = boundScreen())
                screen->OnStatusText(copy);
        },
        Qt::QueuedConnection);
}
