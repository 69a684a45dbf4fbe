#include "data/CStoreConfig.h"

#include "data/CDataFiles.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace {

constexpr const char* kHeader = "# The data store of this terminal: written by poston-server use,\n"
                                "# removed by poston-server local.\n";

} // namespace

bool CStoreConfig::load(const std::string& folder, CStoreConfig& out) {
    out = CStoreConfig{};
    const std::string path = folder + std::string(fileName);
    std::ifstream in(path);
    if (!in)
        return errno == ENOENT;
    CStoreConfig read;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "uri")
            read.uri = value;
        else if (key == "name")
            read.terminalName = value;
        else if (key == "terminal")
            read.terminalId = std::atoll(value.c_str());
        else if (key == "passfile")
            read.passFile = value;
    }
    // A half-written or damaged file must not send the terminal to a server
    // without its number: its visits would not be unique.
    if (read.uri.empty() || read.terminalName.empty() || read.terminalId <= 0)
        return false;
    out = read;
    return true;
}

bool CStoreConfig::save(const std::string& folder) const {
    std::string text = kHeader;
    text += "uri=" + uri + "\n";
    text += "name=" + terminalName + "\n";
    text += "terminal=" + std::to_string(terminalId) + "\n";
    if (!passFile.empty())
        text += "passfile=" + passFile + "\n";
    return CDataFiles::writeFile(CString(folder + std::string(fileName)), text);
}

bool CStoreConfig::remove(const std::string& folder) {
    const std::string path = folder + std::string(fileName);
    const bool gone = ::unlink(path.c_str()) == 0 || errno == ENOENT;
    if (gone)
        CDataFiles::syncFolder(CString(folder));
    return gone;
}
