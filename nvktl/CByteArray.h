#pragma once

#include <string_view>

namespace NVKTL {

// A growable byte buffer. Bytes between the size and the capacity are zero
// after every growth, so a grown buffer always reads as zero-terminated.
class CByteArray {
public:
    CByteArray() = default;
    // Copies exactly length bytes; capacity = size = length.
    CByteArray(const void* bytes, int length);
    CByteArray(const CByteArray& other);
    CByteArray(CByteArray&& other) noexcept;
    CByteArray& operator=(const CByteArray& other);
    CByteArray& operator=(CByteArray&& other) noexcept;
    virtual ~CByteArray();

    // 0 empties the buffer and keeps its block. Growing allocates exactly n
    // zeroed bytes and keeps the contents.
    void SetSize(int n);
    std::string_view View() const {
        return {reinterpret_cast<const char*>(m_data), static_cast<std::size_t>(m_size)};
    }

    // Appends the bytes, doubling the capacity as needed. Returns the new size.
    int Append(const CByteArray& other);
    int Append(const void* bytes, int length);
    int Append(std::string_view text) { return Append(text.data(), static_cast<int>(text.size())); }

private:
    // A new zeroed block of capacity bytes holding the current contents.
    void reallocate(int capacity);

    unsigned char* m_data = nullptr;
    int m_size = 0;
    int m_capacity = 0;
};

} // namespace NVKTL
