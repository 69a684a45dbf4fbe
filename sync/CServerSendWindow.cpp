#include "sync/CServerSendWindow.h"

#include "data/CDataRequest.h"

DataResult CServerSendWindow::dataRequest(CDataRequest& request) {
    if (m_closed.load())
        return DataResult::NoWindow;
    return runDataRequest(request);
}

void CServerSendWindow::progressStart(int position, int maximum) {
    m_screens.progressStart(position, maximum);
}

void CServerSendWindow::progressEnd() {
    m_screens.progressEnd();
}

void CServerSendWindow::statusText(const char* text) {
    m_screens.statusText(text);
}
