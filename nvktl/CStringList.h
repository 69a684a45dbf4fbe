#pragma once

#include "nvktl/CString.h"
#include "nvktl/vector.h"

namespace NVKTL {

// A list of texts that owns its elements; every operation holds the list's lock.
class CStringList : public vector<CString> {
public:
    void Add(const CString& text) { push_back(text); }
    // Element i, or an empty text when i is out of range.
    CString GetAt(int i) const { return i < 0 ? CString() : at(static_cast<std::size_t>(i)); }
    int GetCount() const { return static_cast<int>(size()); }
    void RemoveAll() { clear(); }
};

} // namespace NVKTL
