#pragma once

#include "nvktl/CCriticalSection.h"
#include "nvktl/CString.h"

#include <utility>
#include <vector>

namespace NVKTL {

// Text keys to untyped pointers, kept in the order in which keys were first
// added. The map does not own what the values point to. Every operation holds
// the map's lock while it walks or changes the entries.
class CMapStringToPtr {
public:
    CMapStringToPtr() = default;
    CMapStringToPtr(const CMapStringToPtr&) = delete;
    CMapStringToPtr& operator=(const CMapStringToPtr&) = delete;
    virtual ~CMapStringToPtr() = default;

    // The value of the entry whose key equals key byte for byte.
    bool Lookup(const CString& key, void*& value) const;
    // The first entry whose key equals key when ASCII letter case is ignored;
    // storedKey, when given, receives the key as it is stored.
    bool LookupNoCase(const CString& key, void*& value, CString* storedKey = nullptr) const;
    // Replaces the value of the entry with exactly this key, else appends one.
    void SetAt(const CString& key, void* value);
    // Removes the entry with exactly this key; its value is the caller's.
    bool RemoveKey(const CString& key);
    void RemoveAll();

    int GetCount() const;
    bool IsEmpty() const { return GetCount() == 0; }
    // Entry index in order; false when index is out of range.
    bool GetAt(int index, CString& key, void*& value) const;

    // Calls visit(key, value) for every entry in order, under the lock.
    template <class Visit> void ForEach(Visit&& visit) const {
        CCriticalLock guard(&m_lock);
        for (const auto& [key, value] : m_entries)
            visit(key, value);
    }

    // Whether a and b are equal when ASCII letter case is ignored.
    static bool EqualNoCase(const CString& a, const CString& b);

private:
    std::vector<std::pair<CString, void*>> m_entries;
    mutable CCriticalSection m_lock;
};

} // namespace NVKTL
