#pragma once

#include <string>
#include <string_view>
#include <vector>

// Comma-separated files as spreadsheets write and read them (RFC 4180): UTF-8
// behind a byte-order mark, so that Excel keeps the Japanese intact; a field
// in double quotes when it holds a comma, a quote or a line break; lines
// ending in CR LF.
namespace NVKTL::Csv {

inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// One field as written. A text that a spreadsheet would run as a formula (a
// leading =, +, - or @) is written behind an apostrophe, which spreadsheets
// show as text and readField takes away again.
std::string field(std::string_view text);
// The fields as one line, CR LF included.
std::string line(const std::vector<std::string>& fields);

// One record of a file and the line it starts on (1 for the first).
struct Record {
    int line = 0;
    std::vector<std::string> fields;
};
// The records of a file's text (a byte-order mark skipped, CR LF or LF
// ends); blank lines are left out. False when a quoted field is never closed
// or a quote stands inside a bare field: the records read up to there are
// kept.
bool parse(std::string_view text, std::vector<Record>& records);
// A read field as the text it stands for (the apostrophe of field taken away).
std::string readField(std::string_view field);

} // namespace NVKTL::Csv
