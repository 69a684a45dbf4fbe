#pragma once

#include "nvktl/CString.h"

#include <map>

// The program's text type outside the support library (screens convert at
// their edge).
using CString = NVKTL::CString;

// Text to text: the parameters of a data operation (name without "?"), one
// result row (column name; NULL as empty text) and the settings.
class CMapStringToString {
public:
    using Map = std::map<CString, CString>;

    bool Lookup(const CString& key, CString& value) const {
        auto it = m_map.find(key);
        if (it == m_map.end())
            return false;
        value = it->second;
        return true;
    }
    // The value under key, or fallback when there is none.
    CString Value(const CString& key, const CString& fallback = CString()) const {
        auto it = m_map.find(key);
        return it == m_map.end() ? fallback : it->second;
    }
    void SetAt(const CString& key, const CString& value) { m_map[key] = value; }
    CString& operator[](const CString& key) { return m_map[key]; }
    void RemoveAll() { m_map.clear(); }
    int GetCount() const { return static_cast<int>(m_map.size()); }
    bool IsEmpty() const { return m_map.empty(); }

    Map::const_iterator begin() const { return m_map.begin(); }
    Map::const_iterator end() const { return m_map.end(); }

private:
    Map m_map;
};
