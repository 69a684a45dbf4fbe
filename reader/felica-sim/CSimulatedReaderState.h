#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The state of the simulated reader: the cards lying on it and the failure
// to simulate. It lives in one small text file in the work folder, written by
// poston-card and read by the simulated library on every call:
//
//   cards 0123456789ABCDEF 1122334455667788
//   fail none
class CSimulatedReaderState {
public:
    using Idm = std::array<std::uint8_t, 8>;
    // Poll: every poll fails (while the terminal runs) until the failure is
    // taken back.
    enum class Failure { None, Load, Initialize, Open, Dispose, Poll };

    std::vector<Idm> cards;
    Failure failure = Failure::None;

    // base folder ("/x/build/") + "var/felica-sim.state".
    static std::string fileFor(const std::string& baseFolder);
    // The file's name inside var/.
    static constexpr const char* kFileName = "felica-sim.state";

    // Exactly 16 hex digits (either case).
    static bool parseCardId(std::string_view text, Idm& idm);
    static std::string formatCardId(const Idm& idm);
    static const char* failureName(Failure failure);
    static bool parseFailure(std::string_view text, Failure& failure);

    std::string toText() const;
    // Unknown lines and malformed card IDs are ignored.
    static CSimulatedReaderState fromText(std::string_view text);

    // A missing file is the empty state; returns false only when the file
    // exists but cannot be read.
    bool load(const std::string& path);
    // Writes a temporary file beside path and renames it over path, so a
    // reader never sees half a state. Creates the folder when missing.
    bool save(const std::string& path) const;
};
