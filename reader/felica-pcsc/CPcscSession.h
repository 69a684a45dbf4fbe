#pragma once

#include <PCSC/winscard.h>

#include <array>
#include <cstddef>
#include <cstdint>

// The PC/SC side of the reader library, run on one thread. Every poll looks
// at all attached readers without waiting, counts those that hold a FeliCa
// card, and when there is exactly one reads its IDm with GET DATA. The
// context is re-established after pcscd restarts, and the reader list is read
// on every poll, so unplugging and plugging a reader needs no restart.
class CPcscSession {
public:
    using Idm = std::array<std::uint8_t, 8>;

    struct Poll {
        unsigned cards = 0; // FeliCa cards on the attached readers
        Idm idm{};          // the card's IDm when cards == 1
    };

    CPcscSession() = default;
    ~CPcscSession();
    CPcscSession(const CPcscSession&) = delete;
    CPcscSession& operator=(const CPcscSession&) = delete;

    // Establishes the context; true when at least one reader is attached.
    bool open();
    // One poll; false when pcscd could not be asked or the card did not answer.
    bool poll(Poll& result);
    void close();

    // The ATR a contactless reader builds for a FeliCa card (initial header
    // 3B 8F 80 01 80 4F 0C, RID A0 00 00 03 06, then the standard byte 0x11 or
    // the card name 00 3B).
    static bool isFelicaAtr(const std::uint8_t* atr, std::size_t length);
    // The answer to FF CA 00 00 00: the 8 IDm bytes followed by 90 00.
    static bool parseGetDataResponse(const std::uint8_t* response, std::size_t length, Idm& idm);

private:
    bool ensureContext();
    void dropContext();
    // Drops the context when the error means pcscd is gone; returns false.
    bool fail(LONG error);
    bool readIdm(const char* reader, Idm& idm);

    SCARDCONTEXT m_context = 0;
    bool m_hasContext = false;
};
