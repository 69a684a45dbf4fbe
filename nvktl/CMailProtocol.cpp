#include "nvktl/CMailProtocol.h"

#include <string>
#include <string_view>

namespace NVKTL {

namespace {

// A line break inside a value would start a header line of its own.
std::string OneLine(std::string_view text) {
    std::string line(text);
    for (char& c : line) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    return line;
}

// A value may be folded (CR LF then a blank); every other line break would
// start a header line of its own.
std::string FoldedValue(std::string_view text) {
    std::string value(text);
    for (std::size_t i = 0; i < value.size(); ++i) {
        const bool fold = value[i] == '\r' && i + 2 < value.size() && value[i + 1] == '\n' &&
                          (value[i + 2] == ' ' || value[i + 2] == '\t');
        if (fold)
            i += 2;
        else if (value[i] == '\r' || value[i] == '\n')
            value[i] = ' ';
    }
    return value;
}

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Every line end (CR LF, lone CR or lone LF) as CR LF.
std::string WithCrLf(std::string_view text) {
    std::string result;
    result.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            result += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if (c == '\n') {
            result += "\r\n";
        } else {
            result += c;
        }
    }
    return result;
}

// The list offers no replacement in place: rebuild it with the new head.
void ReplaceFirst(CStringList& values, const CString& value) {
    const int count = values.GetCount();
    CStringList rest;
    for (int i = 1; i < count; ++i)
        rest.Add(values.GetAt(i));
    values.RemoveAll();
    values.Add(value);
    for (int i = 0; i < rest.GetCount(); ++i)
        values.Add(rest.GetAt(i));
}

} // namespace

CMailProtocol::~CMailProtocol() {
    removeAllFields();
}

void CMailProtocol::removeAllFields() {
    m_fields.ForEach(
        [](const CString&, void* values) { delete static_cast<CStringList*>(values); });
    m_fields.RemoveAll();
}

CStringList* CMailProtocol::findField(const CString& name) const {
    void* values = nullptr;
    return m_fields.LookupNoCase(name, values) ? static_cast<CStringList*>(values) : nullptr;
}

void CMailProtocol::SetHeader(const CString& name, const CString& value) {
    if (CStringList* values = findField(name)) {
        ReplaceFirst(*values, value);
        return;
    }
    auto* values = new CStringList;
    values->Add(value);
    m_fields.SetAt(name, values);
}

void CMailProtocol::addValue(const CString& name, const CString& value) {
    CStringList* values = findField(name);
    if (!values) {
        values = new CStringList;
        m_fields.SetAt(name, values);
        values->Add(value);
    } else if (m_repeatedFields) {
        values->Add(value);
    } else {
        ReplaceFirst(*values, value);
    }
}

void CMailProtocol::SetBody(const void* bytes, int length) {
    m_body.Append(bytes, length);
}

CString CMailProtocol::GetFieldName(int index) const {
    CString name;
    void* values = nullptr;
    return m_fields.GetAt(index, name, values) ? name : CString();
}

CString CMailProtocol::GetHeader(const CString& name, int index) const {
    const CStringList* values = findField(name);
    return values ? values->GetAt(index) : CString();
}

int CMailProtocol::GetHeaderCount(const CString& name) const {
    const CStringList* values = findField(name);
    return values ? values->GetCount() : 0;
}

void CMailProtocol::writeField(const CString& name, const CStringList& values) {
    const std::string head = OneLine(name.str()) + ": ";
    for (int i = 0; i < values.GetCount(); ++i) {
        Append(head);
        Append(FoldedValue(values.GetAt(i).str()));
        Append("\r\n");
    }
}

void CMailProtocol::Build() {
    SetSize(0);
    const CString received("Received");
    if (const CStringList* values = findField(received))
        writeField(received, *values);
    m_fields.ForEach([this, &received](const CString& name, void* values) {
        if (!CMapStringToPtr::EqualNoCase(name, received))
            writeField(name, *static_cast<const CStringList*>(values));
    });
    Append("\r\n");
    Append(m_body);
}

void CMailProtocol::Parse(const CString& message) {
    removeAllFields();
    m_body.SetSize(0);

    const std::string text = WithCrLf(message.str());
    std::size_t headerEnd = text.find("\r\n\r\n");
    std::size_t bodyStart;
    if (text.compare(0, 2, "\r\n") == 0) {
        headerEnd = 0; // no header at all
        bodyStart = 2;
    } else if (headerEnd == std::string::npos) {
        headerEnd = text.size();
        bodyStart = text.size();
    } else {
        bodyStart = headerEnd + 4;
    }

    // Unfold: a line that begins with a blank continues the one before.
    std::string unfolded;
    for (std::size_t i = 0; i < headerEnd;) {
        std::size_t end = text.find("\r\n", i);
        if (end == std::string::npos || end > headerEnd)
            end = headerEnd;
        const std::string_view line(text.data() + i, end - i);
        const bool continuation = !line.empty() && (line[0] == ' ' || line[0] == '\t');
        if (!continuation && !unfolded.empty()) {
            unfolded += '\n';
        }
        unfolded += line;
        i = end + 2;
    }
    unfolded += '\n';

    for (std::size_t i = 0; i < unfolded.size();) {
        const std::size_t end = unfolded.find('\n', i);
        const std::string_view line(unfolded.data() + i, end - i);
        i = end + 1;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view name = Trimmed(line.substr(0, colon));
        if (name.empty())
            continue;
        addValue(CString(name), CString(Trimmed(line.substr(colon + 1))));
    }

    if (bodyStart < text.size())
        m_body.Append(text.data() + bodyStart, static_cast<int>(text.size() - bodyStart));
}

} // namespace NVKTL
