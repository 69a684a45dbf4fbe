#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace NVKTL {

// The folder's path ending with "/" (an empty path becomes "/").
inline std::string withSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// The base folder: the parent of the folder that holds the running program
// (<base>/bin/poston), ending with "/". Its data/, var/ and lib/ hold the data
// file, the work files and the reader library. The current folder ("./")
// when the running program cannot be found.
inline std::string programBaseFolder() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || program.empty())
        return "./";
    return withSlash(program.parent_path().parent_path().string());
}

} // namespace NVKTL
