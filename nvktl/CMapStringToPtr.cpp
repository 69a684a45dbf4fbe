#include "nvktl/CMapStringToPtr.h"

namespace NVKTL {

namespace {

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

bool CMapStringToPtr::EqualNoCase(const CString& a, const CString& b) {
    const std::string& x = a.str();
    const std::string& y = b.str();
    if (x.size() != y.size())
        return false;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (AsciiLower(x[i]) != AsciiLower(y[i]))
            return false;
    }
    return true;
}

bool CMapStringToPtr::Lookup(const CString& key, void*& value) const {
    CCriticalLock guard(&m_lock);
    for (const auto& entry : m_entries) {
        if (entry.first == key) {
            value = entry.second;
            return true;
        }
    }
    return false;
}

bool CMapStringToPtr::LookupNoCase(const CString& key, void*& value, CString* storedKey) const {
    CCriticalLock guard(&m_lock);
    for (const auto& entry : m_entries) {
        if (EqualNoCase(entry.first, key)) {
            value = entry.second;
            if (storedKey)
                *storedKey = entry.first;
            return true;
        }
    }
    return false;
}

void CMapStringToPtr::SetAt(const CString& key, void* value) {
    CCriticalLock guard(&m_lock);
    for (auto& entry : m_entries) {
        if (entry.first == key) {
            entry.second = value;
            return;
        }
    }
    m_entries.emplace_back(key, value);
}

bool CMapStringToPtr::RemoveKey(const CString& key) {
    CCriticalLock guard(&m_lock);
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->first == key) {
            m_entries.erase(it);
            return true;
        }
    }
    return false;
}

void CMapStringToPtr::RemoveAll() {
    CCriticalLock guard(&m_lock);
    m_entries.clear();
}

int CMapStringToPtr::GetCount() const {
    CCriticalLock guard(&m_lock);
    return static_cast<int>(m_entries.size());
}

bool CMapStringToPtr::GetAt(int index, CString& key, void*& value) const {
    CCriticalLock guard(&m_lock);
    if (index < 0 || static_cast<std::size_t>(index) >= m_entries.size())
        return false;
    key = m_entries[static_cast<std::size_t>(index)].first;
    value = m_entries[static_cast<std::size_t>(index)].second;
    return true;
}

} // namespace NVKTL
