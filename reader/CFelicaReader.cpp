#include "reader/CFelicaReader.h"

#include "nvktl/CJournal.h"
#include "nvktl/ProgramFolder.h"

#include <dlfcn.h>
#include <poll.h>
#include <unistd.h>

namespace {

// Looks up one export by its exact name.
template <class Function> Function lookUp(void* library, const char* name) {
    return reinterpret_cast<Function>(dlsym(library, name));
}

} // namespace

CFelicaReader::CFelicaReader(CReaderServices services, std::string libraryPath)
    : m_services(std::move(services)),
      m_libraryPath(libraryPath.empty() ? defaultLibraryPath() : std::move(libraryPath)) {}

CFelicaReader::~CFelicaReader() {
    unloadLibrary(false);
}

std::string CFelicaReader::defaultLibraryPath() {
    return NVKTL::programBaseFolder() + "lib/felica.so";
}

NVKTL::CString CFelicaReader::formatCardId(const unsigned char idm[8]) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(16);
    for (int i = 0; i < 8; ++i) {
        text += kDigits[idm[i] >> 4];
        text += kDigits[idm[i] & 0x0F];
    }
    return NVKTL::CString(std::move(text));
}

void CFelicaReader::showMessage(const char* text) {
    if (m_services.showMessage) {
        m_services.showMessage(NVKTL::CString(text));
    }
}

// A library that lacks one of the four exports is not a reader library: it
// is refused here rather than failing later on a missing function.
bool CFelicaReader::loadLibrary() {
    if (m_libraryPath.empty()) {
        return false;
    }
    void* library = dlopen(m_libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        return false;
    }
    Exports exports;
    exports.initializeLibrary = lookUp<felica_initialize_library_fn>(library, "initialize_library");
    exports.openReaderWriterAuto =
        lookUp<felica_open_reader_writer_auto_fn>(library, "open_reader_writer_auto");
    exports.pollingAndGetCardInformation = lookUp<felica_polling_and_get_card_information_fn>(
        library, "polling_and_get_card_information");
    exports.disposeLibrary = lookUp<felica_dispose_library_fn>(library, "dispose_library");
    exports.cardChangeDescriptor =
        lookUp<felica_card_change_descriptor_fn>(library, "card_change_descriptor");
    if (!exports.initializeLibrary || !exports.openReaderWriterAuto ||
        !exports.pollingAndGetCardInformation || !exports.disposeLibrary) {
        dlclose(library);
        return false;
    }
    m_library = library;
    m_exports = exports;
    return true;
}

bool CFelicaReader::openReader() {
    if (m_library) {
        return m_readerOpen;
    }
    if (!loadLibrary()) {
        showMessage(kDriverNotFound);
        return false;
    }
    if (m_exports.initializeLibrary() == 0) {
        closeReader();
        showMessage(kInitializeFailed);
        return false;
    }
    if (m_exports.openReaderWriterAuto() == 0) {
        closeReader();
        showMessage(kOpenFailed);
        return false;
    }
    m_readerOpen = true;
    return true;
}

void CFelicaReader::closeReader() {
    unloadLibrary(true);
}

void CFelicaReader::unloadLibrary(bool reportFailure) {
    if (!m_library) {
        return;
    }
    const bool disposed = m_exports.disposeLibrary() != 0;
    m_readerOpen = false;
    m_failingSince.reset();
    dlclose(m_library);
    m_library = nullptr;
    m_exports = {};
    if (!disposed && reportFailure) {
        showMessage(kCloseFailed);
    }
}

int CFelicaReader::changeDescriptor() const {
    if (!m_readerOpen || !m_exports.cardChangeDescriptor) {
        return -1;
    }
    return m_exports.cardChangeDescriptor();
}

void CFelicaReader::drainChanges() const {
    // Only what is there is read, whether or not the library opened the
    // descriptor not to block; 4 KiB take an eventfd's counter or a queue of
    // inotify events alike.
    pollfd ready{changeDescriptor(), POLLIN, 0};
    char buffer[4096];
    while (ready.fd >= 0 && ::poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN) &&
           ::read(ready.fd, buffer, sizeof buffer) > 0) {
    }
}

bool CFelicaReader::isFailing() const {
    return m_failingSince && std::chrono::steady_clock::now() - *m_failingSince >= m_failureDelay;
}

NVKTL::CString CFelicaReader::getCardId() {
    if (!m_library || !m_readerOpen) {
        m_lastCardId = NVKTL::CString();
        return NVKTL::CString(kNotOpen);
    }

    unsigned char systemCode[2] = {0xFF, 0xFF};
    felica_polling polling{systemCode, 0};
    unsigned char numberOfCards = 0;
    unsigned char idm[8] = {};
    unsigned char pmm[8] = {};
    felica_card_information cardInformation{idm, pmm};

    const int polled =
        m_exports.pollingAndGetCardInformation(&polling, &numberOfCards, &cardInformation);
    if (polled == 0) {
        if (!m_failingSince) {
            m_failingSince = std::chrono::steady_clock::now();
        }
        // The operator learns of it later from the journal, once per outage.
        if (!m_failureJournalled && isFailing()) {
            NVKTL::CJournal::readerFailed("every poll of the card reader fails");
            m_failureJournalled = true;
        }
    } else {
        m_failingSince.reset();
        if (m_failureJournalled) {
            NVKTL::CJournal::readerRecovered();
            m_failureJournalled = false;
        }
    }
    if (polled == 0 || numberOfCards != 1) {
        m_lastCardId = NVKTL::CString();
        return NVKTL::CString(kNoCard);
    }

    NVKTL::CString cardId = formatCardId(idm);
    if (!(cardId == m_lastCardId)) {
        m_lastCardId = cardId;
        if (m_services.beep) {
            m_services.beep();
        }
    }
    return cardId;
}
