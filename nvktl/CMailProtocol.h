#pragma once

#include "nvktl/CByteArray.h"
#include "nvktl/CMapStringToPtr.h"
#include "nvktl/CString.h"
#include "nvktl/CStringList.h"

namespace NVKTL {

// One Internet mail message: header fields in the order of their first
// setting, each with its list of values, and the body bytes. Build() writes
// the finished message (lines ended by CR LF) into the byte buffer this class
// is; GetText() hands it out as text.
class CMailProtocol : public CByteArray {
public:
    CMailProtocol() = default;
    CMailProtocol(const CMailProtocol&) = delete;
    CMailProtocol& operator=(const CMailProtocol&) = delete;
    ~CMailProtocol() override;

    // Reads header fields and body from a raw message, replacing what the
    // object held: line ends become CR LF, continuation lines join the line
    // before, a field is cut at its first ":" (blanks around the name and
    // value dropped), lines without ":" are skipped, and the body is
    // everything after the first empty line.
    virtual void Parse(const CString& message);
    // Writes the message: "Received" fields first, then every other field in
    // order, each value as "Name: value" CR LF (a value folded with CR LF and a
    // blank stays folded; any other line break becomes a space); then an empty
    // line and the body.
    virtual void Build();

    // Replaces the first value of the field whose name matches ignoring ASCII
    // letter case (keeping its place and the letter case stored), or appends
    // a new field under the name exactly as given.
    void SetHeader(const CString& name, const CString& value);
    void SetBody(const void* bytes, int length);

    // Parse: true (the default) makes a repeated field name add a value to the
    // field, false makes it replace the field's first value.
    void SetRepeatedFields(bool add) { m_repeatedFields = add ? 1 : 0; }

    int GetFieldCount() const { return m_fields.GetCount(); }
    // The name as stored of field index, empty when out of range.
    CString GetFieldName(int index) const;
    // Value index of the field name (letter case ignored); empty when missing.
    CString GetHeader(const CString& name, int index = 0) const;
    // How many values the field name holds; 0 when it is missing.
    int GetHeaderCount(const CString& name) const;
    const CByteArray& GetBody() const { return m_body; }

    // The built message as text.
    CString GetText() const { return CString(View()); }

private:
    CStringList* findField(const CString& name) const;
    void addValue(const CString& name, const CString& value);
    void writeField(const CString& name, const CStringList& values);
    void removeAllFields();

    CMapStringToPtr m_fields; // name -> CStringList*, owned
    CByteArray m_body;
    unsigned char m_repeatedFields = 1;
};

} // namespace NVKTL
