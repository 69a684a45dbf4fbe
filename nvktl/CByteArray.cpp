#include "nvktl/CByteArray.h"

#include <climits>
#include <cstring>
#include <utility>
#include <vector>

namespace NVKTL {

CByteArray::CByteArray(const void* bytes, int length) {
    if (bytes && length > 0) {
        reallocate(length);
        std::memcpy(m_data, bytes, static_cast<std::size_t>(length));
        m_size = length;
    }
}

CByteArray::CByteArray(const CByteArray& other) : CByteArray(other.m_data, other.m_size) {}

CByteArray::CByteArray(CByteArray&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)),
      m_capacity(std::exchange(other.m_capacity, 0)) {}

CByteArray& CByteArray::operator=(const CByteArray& other) {
    if (this != &other) {
        CByteArray copy(other);
        *this = std::move(copy);
    }
    return *this;
}

CByteArray& CByteArray::operator=(CByteArray&& other) noexcept {
    if (this != &other) {
        delete[] m_data;
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_capacity = std::exchange(other.m_capacity, 0);
    }
    return *this;
}

CByteArray::~CByteArray() {
    delete[] m_data;
}

void CByteArray::SetSize(int n) {
    if (n <= 0) {
        m_size = 0;
        return;
    }
    if (m_capacity < n)
        reallocate(n);
    m_size = n;
}

int CByteArray::Append(const CByteArray& other) {
    return Append(other.m_data, other.m_size);
}

int CByteArray::Append(const void* bytes, int length) {
    if (!bytes || length <= 0)
        return m_size;
    // The source may lie inside this very buffer, which growing frees.
    const auto* source = static_cast<const unsigned char*>(bytes);
    std::vector<unsigned char> copy;
    if (m_data && source >= m_data && source < m_data + m_capacity) {
        copy.assign(source, source + length);
        source = copy.data();
    }
    const int needed = m_size + length;
    if (needed > m_capacity) {
        int capacity = m_capacity == 0 ? needed : m_capacity;
        while (capacity < needed)
            capacity = capacity > INT_MAX / 2 ? needed : capacity * 2;
        reallocate(capacity);
    }
    std::memcpy(m_data + m_size, source, static_cast<std::size_t>(length));
    m_size = needed;
    return m_size;
}

void CByteArray::reallocate(int capacity) {
    auto* block = new unsigned char[static_cast<std::size_t>(capacity)]();
    if (m_data && m_size > 0)
        std::memcpy(block, m_data, static_cast<std::size_t>(m_size));
    delete[] m_data;
    m_data = block;
    m_capacity = capacity;
}

} // namespace NVKTL
