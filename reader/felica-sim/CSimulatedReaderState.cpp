#include "reader/felica-sim/CSimulatedReaderState.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <unistd.h>

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

struct FailureName {
    CSimulatedReaderState::Failure failure;
    const char* name;
};

constexpr FailureName kFailureNames[] = {
    {CSimulatedReaderState::Failure::None, "none"},
    {CSimulatedReaderState::Failure::Load, "load"},
    {CSimulatedReaderState::Failure::Initialize, "init"},
    {CSimulatedReaderState::Failure::Open, "open"},
    {CSimulatedReaderState::Failure::Dispose, "dispose"},
    {CSimulatedReaderState::Failure::Poll, "poll"},
};

} // namespace

std::string CSimulatedReaderState::fileFor(const std::string& baseFolder) {
    return (std::filesystem::path(baseFolder) / "var" / kFileName).string();
}

bool CSimulatedReaderState::parseCardId(std::string_view text, Idm& idm) {
    if (text.size() != 16) {
        return false;
    }
    for (std::size_t i = 0; i < 8; ++i) {
        const int high = hexValue(text[2 * i]);
        const int low = hexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        idm[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return true;
}

std::string CSimulatedReaderState::formatCardId(const Idm& idm) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint8_t byte : idm) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

const char* CSimulatedReaderState::failureName(Failure failure) {
    for (const FailureName& entry : kFailureNames) {
        if (entry.failure == failure) {
            return entry.name;
        }
    }
    return "none";
}

bool CSimulatedReaderState::parseFailure(std::string_view text, Failure& failure) {
    for (const FailureName& entry : kFailureNames) {
        if (text == entry.name) {
            failure = entry.failure;
            return true;
        }
    }
    return false;
}

std::string CSimulatedReaderState::toText() const {
    std::string text = "cards";
    for (const Idm& idm : cards) {
        text += ' ';
        text += formatCardId(idm);
    }
    text += "\nfail ";
    text += failureName(failure);
    text += '\n';
    return text;
}

CSimulatedReaderState CSimulatedReaderState::fromText(std::string_view text) {
    CSimulatedReaderState state;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        std::string word;
        if (key == "cards") {
            while (words >> word) {
                Idm idm{};
                if (parseCardId(word, idm)) {
                    state.cards.push_back(idm);
                }
            }
        } else if (key == "fail" && words >> word) {
            parseFailure(word, state.failure);
        }
    }
    return state;
}

bool CSimulatedReaderState::load(const std::string& path) {
    *this = CSimulatedReaderState();
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return errno == ENOENT;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        return false;
    }
    *this = fromText(text.str());
    return true;
}

bool CSimulatedReaderState::save(const std::string& path) const {
    std::error_code error;
    const std::filesystem::path target(path);
    std::filesystem::create_directories(target.parent_path(), error);
    const std::string temporary = path + ".tmp." + std::to_string(getpid());
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        return false;
    }
    const std::string text = toText();
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    written = std::fflush(file) == 0 && written;
    written = fsync(fileno(file)) == 0 && written;
    written = std::fclose(file) == 0 && written;
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}
