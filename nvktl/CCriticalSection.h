#pragma once

#include <mutex>

namespace NVKTL {

// A lock the holding thread may take again.
class ICriticalSection {
public:
    virtual void lock() = 0;
    virtual void unlock() = 0;

protected:
    ~ICriticalSection() = default;
};

class CCriticalSection : public ICriticalSection {
public:
    CCriticalSection() = default;
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;
    virtual ~CCriticalSection() = default;

    void lock() override { m_mutex.lock(); }
    void unlock() override { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

// Scope guard: takes the section in the constructor, releases it in the destructor.
class CCriticalLock {
public:
    explicit CCriticalLock(ICriticalSection* section) : m_section(section) {
        if (m_section)
            m_section->lock();
    }
    CCriticalLock(const CCriticalLock&) = delete;
    CCriticalLock& operator=(const CCriticalLock&) = delete;
    virtual ~CCriticalLock() {
        if (m_section)
            m_section->unlock();
    }

private:
    ICriticalSection* m_section;
};

} // namespace NVKTL
