#include "nvktl/CFile.h"

#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <vector>

namespace NVKTL {

CFile::CFile(const CString& path, int mode) {
    Open(path, mode);
}

CFile::~CFile() {
    Close();
}

bool CFile::Open(const CString& path, int mode) {
    Close();
    // "e": close-on-exec, so no child process inherits the stream.
    const char* how = mode == 0 ? "rbe" : mode == 1 ? "wbe" : "abe";
    stream = std::fopen(path.c_str(), how);
    return stream != nullptr;
}

bool CFile::Close() {
    if (stream)
        std::fclose(stream);
    stream = nullptr;
    return true;
}

std::size_t CFile::Read(void* buffer, std::size_t count) {
    if (!stream || !buffer)
        return 0;
    return std::fread(buffer, 1, count, stream);
}

std::size_t CFile::Write(const void* bytes, std::size_t count) {
    if (!stream || !bytes)
        return 0;
    return std::fwrite(bytes, 1, count, stream);
}

long CFile::GetLength() {
    if (!stream)
        return -1;
    const long position = std::ftell(stream);
    if (position < 0 || std::fseek(stream, 0, SEEK_END) != 0)
        return -1;
    const long length = std::ftell(stream);
    std::fseek(stream, position, SEEK_SET);
    return length;
}

CString CFile::ReadAll() {
    const long length = GetLength();
    if (length < 0) {
        Close();
        return CString();
    }
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
    std::rewind(stream);
    const std::size_t got = Read(buffer.data(), static_cast<std::size_t>(length));
    Close();
    return CString(buffer.data(), got);
}

bool CFile::Exists(const CString& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

bool CFile::GetFullPath(const CString& path, char* out, std::size_t size) {
    if (!out || size == 0)
        return false;
    out[0] = '\0';
    if (path.IsEmpty())
        return false;
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(path.str(), error);
    if (error)
        return false;
    const std::string text = full.lexically_normal().string();
    if (text.empty() || text.size() + 1 > size)
        return false;
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

} // namespace NVKTL
