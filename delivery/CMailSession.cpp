#include "delivery/CMailSession.h"

#include <algorithm>

namespace {
constexpr unsigned kQuitTimeoutMs = 2000;
} // namespace

CMailSession::~CMailSession() {
    end();
}

NVKTL::CSmtpClient* CMailSession::reuse(const CString& key) {
    if (!m_client)
        return nullptr;
    // A server that dropped the idle connection or refuses RSET has taken
    // nothing of the next mail yet: a fresh session may carry it.
    if (m_key.str() != key.str()) {
        end();
        return nullptr;
    }
    if (m_client->Reset() != NVKTL::SmtpResult::Ok) {
        drop();
        return nullptr;
    }
    m_client->ClearRecipients();
    return m_client.get();
}

void CMailSession::keep(std::unique_ptr<NVKTL::CSmtpClient> client, const CString& key) {
    end();
    m_client = std::move(client);
    m_key = key;
}

void CMailSession::end() {
    if (!m_client)
        return;
    // QUIT is a courtesy once the mails are taken: it must not hold up the end
    // of a batch (or of the program) for a full reply time.
    m_client->SetTimeout(std::min(m_client->GetTimeout(), kQuitTimeoutMs));
    m_client->Quit();
    drop();
}

void CMailSession::drop() {
    if (!m_client)
        return;
    m_client->Close();
    m_client.reset();
    m_key = CString();
}
