#pragma once

#include "nvktl/CString.h"

#include <cstddef>
#include <cstdio>

namespace NVKTL {

// Owner of one C file stream, always binary. Modes: 0 read ("rb"),
// 1 create or truncate and write ("wb"), any other value append ("ab").
class CFile {
public:
    CFile() = default;
    // Opens path; test IsOpen() afterwards.
    CFile(const CString& path, int mode);
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    virtual ~CFile();

    // Closes any open stream first. True when the file could be opened.
    bool Open(const CString& path, int mode);
    // Always true.
    bool Close();
    bool IsOpen() const { return stream != nullptr; }

    // Byte counts actually read or written; 0 when no file is open.
    std::size_t Read(void* buffer, std::size_t count);
    std::size_t Write(const void* bytes, std::size_t count);
    // Length in bytes, -1 when no file is open.
    long GetLength();

    // The whole file as text, up to its first zero byte; closes the file.
    // Empty when no file is open.
    CString ReadAll();

    // True for an existing file or folder.
    static bool Exists(const CString& path);
    // The absolute, normalised form of path (relative to the working folder;
    // the path need not exist) into out, zero-terminated. False when path is
    // empty or the result does not fit in size characters with its zero.
    static bool GetFullPath(const CString& path, char* out, std::size_t size);

private:
    std::FILE* stream = nullptr;
};

} // namespace NVKTL
