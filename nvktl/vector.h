#pragma once

#include "nvktl/CCriticalSection.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace NVKTL {

// The library's list: every operation holds the list's own lock, so the send
// thread can read rows that the user-interface thread produced. The list owns
// its cells, not what pointer cells point to.
template <class T> class vector {
public:
    vector() = default;
    vector(const vector& other) {
        CCriticalLock guard(&other.m_lock);
        m_cells = other.m_cells;
    }
    vector& operator=(const vector& other) {
        if (this != &other) {
            std::vector<T> copy;
            {
                CCriticalLock guard(&other.m_lock);
                copy = other.m_cells;
            }
            CCriticalLock guard(&m_lock);
            m_cells = std::move(copy);
        }
        return *this;
    }
    virtual ~vector() { clear(); }

    std::size_t size() const {
        CCriticalLock guard(&m_lock);
        return m_cells.size();
    }
    bool empty() const { return size() == 0; }

    void push_back(T value) {
        CCriticalLock guard(&m_lock);
        m_cells.push_back(std::move(value));
    }

    // Element i by value; a default T when i is past the end.
    T at(std::size_t i) const {
        CCriticalLock guard(&m_lock);
        return i < m_cells.size() ? m_cells[i] : T{};
    }

    bool erase(std::size_t i) {
        CCriticalLock guard(&m_lock);
        if (i >= m_cells.size())
            return false;
        m_cells.erase(m_cells.begin() + static_cast<std::ptrdiff_t>(i));
        return true;
    }

    void clear() {
        std::vector<T> detached;
        CCriticalLock guard(&m_lock);
        detached.swap(m_cells);
    }

protected:
    std::vector<T> m_cells;
    mutable CCriticalSection m_lock;
};

} // namespace NVKTL
