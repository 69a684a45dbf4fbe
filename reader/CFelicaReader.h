#pragma once

#include "nvktl/CString.h"
#include "reader/felica.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

// What the binding needs from the application: a way to show a message (an
// OK box that waits until it is dismissed) and the platform's default beep.
struct CReaderServices {
    std::function<void(const NVKTL::CString& text)> showMessage;
    std::function<void()> beep;
};

// The one binding to the FeliCa reader library for the whole program. The
// application object owns it and forwards openReader(), closeReader() and
// getCardId() to it. Only the user-interface thread calls it.
class CFelicaReader {
public:
    static constexpr const char* kDriverNotFound = "FeRiCaのドライバが見つかりません。";
    static constexpr const char* kInitializeFailed = "FeRiCaドライバの初期化に失敗しました。";
    static constexpr const char* kOpenFailed = "FeRiCaドライバのオープンに失敗しました。";
    static constexpr const char* kCloseFailed = "FeRiCaドライバのクローズに失敗しました。";
    // Poll results standing in place of a card ID.
    static constexpr const char* kNoCard = "no";
    static constexpr const char* kNotOpen = "err";

    // libraryPath empty: defaultLibraryPath().
    explicit CFelicaReader(CReaderServices services, std::string libraryPath = {});
    // Disposes and unloads a library that is still loaded, without messages.
    ~CFelicaReader();
    CFelicaReader(const CFelicaReader&) = delete;
    CFelicaReader& operator=(const CFelicaReader&) = delete;

    // Loads, initialises and opens the reader; shows the matching message and
    // returns false when a step fails.
    bool openReader();
    // Disposes and unloads the library; nothing when none is loaded.
    void closeReader();
    // One poll: the card's ID as 16 upper-case hex digits, "no" when not
    // exactly one card answered or the poll failed, "err" when the reader is
    // not open. Beeps once when the ID differs from the previous poll's.
    NVKTL::CString getCardId();

    // A descriptor that turns readable when the cards on the reader may have
    // changed, while the reader is open; -1 when the library cannot tell (the
    // caller then relies on polling). drainChanges() reads it empty again.
    int changeDescriptor() const;
    void drainChanges() const;

    // True once every poll for at least the failure delay has failed (the
    // library reported an error, not merely no card); false again after the
    // first poll that works.
    bool isFailing() const;
    // 2 s unless set; tests shorten it.
    void setFailureDelay(std::chrono::milliseconds delay) { m_failureDelay = delay; }

    // The base folder (parent of the program's folder) + "lib/felica.so".
    static std::string defaultLibraryPath();
    // The 8 IDm bytes as 16 upper-case hex digits.
    static NVKTL::CString formatCardId(const unsigned char idm[8]);

private:
    struct Exports {
        felica_initialize_library_fn initializeLibrary = nullptr;
        felica_open_reader_writer_auto_fn openReaderWriterAuto = nullptr;
        felica_polling_and_get_card_information_fn pollingAndGetCardInformation = nullptr;
        felica_dispose_library_fn disposeLibrary = nullptr;
        // Optional.
        felica_card_change_descriptor_fn cardChangeDescriptor = nullptr;
    };

    bool loadLibrary();
    void unloadLibrary(bool reportFailure);
    void showMessage(const char* text);

    CReaderServices m_services;
    std::string m_libraryPath;
    void* m_library = nullptr;
    Exports m_exports;
    bool m_readerOpen = false;
    NVKTL::CString m_lastCardId;
    std::chrono::milliseconds m_failureDelay{2000};
    // The first of the polls that have failed in a row.
    std::optional<std::chrono::steady_clock::time_point> m_failingSince;
    // The present run of failed polls has gone to the journal.
    bool m_failureJournalled = false;
};
