#include "reader/felica-pcsc/CPcscSession.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::uint8_t kFelicaAtrHeader[] = {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F,
                                             0x0C, 0xA0, 0x00, 0x00, 0x03, 0x06};
constexpr std::size_t kStandardByte = sizeof(kFelicaAtrHeader);
constexpr std::uint8_t kFelicaStandard = 0x11;
constexpr std::uint8_t kFelicaCardName[] = {0x00, 0x3B};

constexpr std::uint8_t kGetDataIdm[] = {0xFF, 0xCA, 0x00, 0x00, 0x00};

bool isServiceLost(LONG error) {
    return error == SCARD_E_NO_SERVICE || error == SCARD_E_SERVICE_STOPPED ||
           error == SCARD_E_INVALID_HANDLE || error == SCARD_F_COMM_ERROR ||
           error == SCARD_E_NO_READERS_AVAILABLE || error == SCARD_E_READER_UNAVAILABLE;
}

} // namespace

CPcscSession::~CPcscSession() {
    close();
}

bool CPcscSession::isFelicaAtr(const std::uint8_t* atr, std::size_t length) {
    if (!atr || length < kStandardByte + 3 ||
        std::memcmp(atr, kFelicaAtrHeader, sizeof(kFelicaAtrHeader)) != 0) {
        return false;
    }
    return atr[kStandardByte] == kFelicaStandard ||
           std::memcmp(atr + kStandardByte + 1, kFelicaCardName, sizeof(kFelicaCardName)) == 0;
}

bool CPcscSession::parseGetDataResponse(const std::uint8_t* response, std::size_t length,
                                        Idm& idm) {
    if (!response || length != idm.size() + 2 || response[length - 2] != 0x90 ||
        response[length - 1] != 0x00) {
        return false;
    }
    std::memcpy(idm.data(), response, idm.size());
    return true;
}

bool CPcscSession::ensureContext() {
    if (m_hasContext) {
        return true;
    }
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &m_context) !=
        SCARD_S_SUCCESS) {
        return false;
    }
    m_hasContext = true;
    return true;
}

void CPcscSession::dropContext() {
    if (m_hasContext) {
        SCardReleaseContext(m_context);
        m_hasContext = false;
    }
}

bool CPcscSession::fail(LONG error) {
    if (isServiceLost(error)) {
        dropContext();
    }
    return false;
}

void CPcscSession::close() {
    dropContext();
}

bool CPcscSession::open() {
    if (!ensureContext()) {
        return false;
    }
    DWORD size = 0;
    return SCardListReaders(m_context, nullptr, nullptr, &size) == SCARD_S_SUCCESS && size > 1;
}

bool CPcscSession::poll(Poll& result) {
    result = Poll();
    if (!ensureContext()) {
        return false;
    }

    DWORD size = 0;
    LONG status = SCardListReaders(m_context, nullptr, nullptr, &size);
    if (status == SCARD_E_NO_READERS_AVAILABLE) {
        return true;
    }
    if (status != SCARD_S_SUCCESS) {
        return fail(status);
    }
    std::vector<char> names(size + 1, '\0');
    status = SCardListReaders(m_context, nullptr, names.data(), &size);
    if (status == SCARD_E_NO_READERS_AVAILABLE) {
        return true;
    }
    if (status != SCARD_S_SUCCESS) {
        return fail(status);
    }

    std::vector<SCARD_READERSTATE> states;
    for (const char* name = names.data(); *name; name += std::strlen(name) + 1) {
        SCARD_READERSTATE state{};
        state.szReader = name;
        state.dwCurrentState = SCARD_STATE_UNAWARE;
        states.push_back(state);
    }
    if (states.empty()) {
        return true;
    }
    status = SCardGetStatusChange(m_context, 0, states.data(), static_cast<DWORD>(states.size()));
    if (status != SCARD_S_SUCCESS && status != SCARD_E_TIMEOUT) {
        return fail(status);
    }

    const char* cardReader = nullptr;
    for (const SCARD_READERSTATE& state : states) {
        const bool present =
            (state.dwEventState & SCARD_STATE_PRESENT) && !(state.dwEventState & SCARD_STATE_MUTE);
        if (present && isFelicaAtr(state.rgbAtr, state.cbAtr)) {
            ++result.cards;
            cardReader = cardReader ? cardReader : state.szReader;
        }
    }
    if (result.cards == 1 && !readIdm(cardReader, result.idm)) {
        result = Poll();
        return false;
    }
    return true;
}

// Connects, reads the IDm and disconnects, leaving the card powered. A card
// reset by another program since pcscd last saw it is connected once more.
bool CPcscSession::readIdm(const char* reader, Idm& idm) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCARDHANDLE card = 0;
        DWORD protocol = 0;
        LONG status = SCardConnect(m_context, reader, SCARD_SHARE_SHARED,
                                   SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
        if (status == SCARD_W_RESET_CARD) {
            continue;
        }
        if (status != SCARD_S_SUCCESS) {
            return fail(status);
        }
        std::uint8_t response[258] = {};
        DWORD length = sizeof(response);
        status = SCardTransmit(card, protocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1,
                               kGetDataIdm, sizeof(kGetDataIdm), nullptr, response, &length);
        SCardDisconnect(card, SCARD_LEAVE_CARD);
        if (status == SCARD_W_RESET_CARD) {
            continue;
        }
        if (status != SCARD_S_SUCCESS) {
            return fail(status);
        }
        return parseGetDataResponse(response, length, idm);
    }
    return false;
}
