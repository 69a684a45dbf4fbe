#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace NVKTL {

// The base folder: the parent of the folder that holds the running program
// (<base>/bin/poston), ending with "/". Its data/, var/ and lib/ hold the data
// file, the work files and the reader library. The current folder ("./")
// when the running program cannot be found.
inline std::string programBaseFolder() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || program.empty())
        return "./";
    std::string base = program.parent_path().parent_path().string();
    if (base.empty() || base.back() != '/')
        base += '/';
    return base;
}

} // namespace NVKTL
