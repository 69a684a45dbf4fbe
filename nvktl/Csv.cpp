#include "nvktl/Csv.h"

namespace NVKTL::Csv {

namespace {

bool startsFormula(std::string_view text) {
    return !text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@');
}

// A text behind the apostrophe of field: a formula's start, or an apostrophe
// that itself stood before one.
bool needsApostrophe(std::string_view text) {
    return startsFormula(text) ||
           (text.size() > 1 && text[0] == '\'' && needsApostrophe(text.substr(1)));
}

} // namespace

std::string field(std::string_view text) {
    std::string value = needsApostrophe(text) ? "'" : "";
    value += text;
    if (value.find_first_of(",\"\r\n") == std::string::npos)
        return value;
    std::string quoted = "\"";
    for (const char c : value) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string line(const std::vector<std::string>& fields) {
    std::string text;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            text += ',';
        text += field(fields[i]);
    }
    return text + "\r\n";
}

std::string readField(std::string_view text) {
    if (text.size() > 1 && text[0] == '\'' && needsApostrophe(text.substr(1)))
        text.remove_prefix(1);
    return std::string(text);
}

bool parse(std::string_view text, std::vector<Record>& records) {
    if (text.starts_with(kByteOrderMark))
        text.remove_prefix(kByteOrderMark.size());
    Record record;
    std::string value;
    bool quoted = false, inQuotes = false, any = false;
    int line = 1;
    const auto endField = [&] {
        record.fields.push_back(readField(value));
        value.clear();
        quoted = false;
    };
    const auto endRecord = [&] {
        endField();
        // A blank line is one empty field: nothing to keep.
        if (record.fields.size() > 1 || !record.fields[0].empty())
            records.push_back(std::move(record));
        record = Record{};
        any = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!any) {
            record.line = line;
            any = true;
        }
        if (inQuotes) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                value += '"';
                ++i;
            } else if (c == '"') {
                inQuotes = false;
            } else {
                if (c == '\n')
                    ++line;
                value += c;
            }
            continue;
        }
        if (c == '"') {
            if (quoted || !value.empty())
                return false;
            inQuotes = quoted = true;
        } else if (c == ',') {
            endField();
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            ++line;
            endRecord();
        } else if (quoted) {
            // Text after a closing quote.
            return false;
        } else {
            value += c;
        }
    }
    if (inQuotes)
        return false;
    if (any)
        endRecord();
    return true;
}

} // namespace NVKTL::Csv
