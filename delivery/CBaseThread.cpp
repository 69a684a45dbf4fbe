#include "delivery/CBaseThread.h"

namespace {
constexpr unsigned kPeriodMs = 1000;
} // namespace

CBaseThread::CBaseThread() {
    setInterval(kPeriodMs);
}

CBaseThread::~CBaseThread() {
    stop();
}

bool CBaseThread::onTimer() {
    bool expected = false;
    if (!m_busy.compare_exchange_strong(expected, true))
        return true;
    if (getWindow() != nullptr)
        execute();
    m_busy.store(false);
    return true;
}

void CBaseThread::setWindow(ISendWindow* window) {
    m_window.store(window);
    start();
}

void CBaseThread::resetWindow() {
    m_window.store(nullptr);
    stopTimer();
}

ISendWindow* CBaseThread::getWindow() const {
    return m_window.load();
}

DataResult CBaseThread::sendRequest(CDataRequest& request) {
    ISendWindow* window = getWindow();
    if (window == nullptr)
        return DataResult::NoWindow;
    return window->dataRequest(request);
}

DataResult CBaseThread::getDefault(CMapStringToString& settings) {
    CDataRequest request{DataRequest::GetDefault{}};
    const DataResult result = sendRequest(request);
    for (const auto& [key, value] : std::get<DataRequest::GetDefault>(request.operation).settings)
        settings.SetAt(key, value);
    return result;
}

DataResult CBaseThread::getSendLogin(NVKTL::vector<CMapStringToString*>& rows) {
    CDataRequest request{DataRequest::GetSendLogin{}};
    const DataResult result = sendRequest(request);
    // The list owns its cells only; the rows go to the caller.
    rows = std::get<DataRequest::GetSendLogin>(request.operation).rows;
    return result;
}

DataResult CBaseThread::claimDelivery(const CString& sendId, const CString& now,
                                      const CString& until, CString& messageId,
                                      CString& messageDate) {
    CDataRequest request{DataRequest::ClaimDelivery{sendId, now, until, messageId, messageDate}};
    const DataResult result = sendRequest(request);
    if (result == DataResult::Done) {
        const auto& claim = std::get<DataRequest::ClaimDelivery>(request.operation);
        messageId = claim.messageId;
        messageDate = claim.messageDate;
    }
    return result;
}

DataResult CBaseThread::getWaitingCount(int& count) {
    CDataRequest request{DataRequest::GetWaitingCount{}};
    const DataResult result = sendRequest(request);
    if (result == DataResult::Done)
        count = std::get<DataRequest::GetWaitingCount>(request.operation).count;
    return result;
}

void CBaseThread::progressStart(int position, int maximum) {
    if (ISendWindow* window = getWindow())
        window->progressStart(position, maximum);
}

void CBaseThread::progressEnd() {
    if (ISendWindow* window = getWindow())
        window->progressEnd();
}

void CBaseThread::statusText(const char* text) {
    if (ISendWindow* window = getWindow())
        window->statusText(text);
}
