#pragma once

#include "nvktl/CByteArray.h"
#include "nvktl/CString.h"

#include <utility>
#include <vector>

namespace NVKTL {

// One Internet mail message: header fields in the order of their first
// setting, and the body bytes. Build() writes the finished message (lines
// ended by CR LF) into the byte buffer this class is; GetText() hands it out
// as text.
class CMailProtocol : public CByteArray {
public:
    // Replaces the value of the field whose name matches ignoring ASCII letter
    // case (keeping its place and the name as first given), or appends a new
    // field under the name exactly as given.
    void SetHeader(const CString& name, const CString& value);
    void SetBody(const void* bytes, int length);

    // Writes every field in order as "Name: value" CR LF (a value folded with
    // CR LF and a blank stays folded; any other line break becomes a space),
    // then an empty line and the body.
    void Build();

    // The built message as text.
    CString GetText() const { return CString(View()); }

private:
    std::vector<std::pair<CString, CString>> m_fields;
    CByteArray m_body;
};

} // namespace NVKTL
