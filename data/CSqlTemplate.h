#pragma once

#include "nvktl/CMapStringToString.h"

#include <cstdint>
#include <string>
#include <vector>

// Turns a statement template with named placeholders into SQL with anonymous
// parameters and the values to bind to them. No value ever becomes SQL text.
//
//   '?name'  one text parameter holding the value exactly as it is;
//   ?name    the value as the operation prepared it: "null" is NULL, a value
//            wrapped in single quotes is the text inside them, a decimal
//            number is that number; anything else makes the statement invalid.
//
// Names are lower-case letters, digits and underscores. Entries of the map
// that no placeholder names are ignored; a placeholder without an entry makes
// the statement invalid. The parameters come out as "?" (the local file) or
// numbered "$1", "$2", ... (the server).
class CSqlTemplate {
public:
    enum class Markers { Question, Numbered };

    struct Value {
        enum class Kind { Null, Text, Integer, Real };
        Kind kind = Kind::Null;
        std::string text;
        std::int64_t integer = 0;
        double real = 0.0;
    };

    CSqlTemplate(const CString& sql, const CMapStringToString* params,
                 Markers markers = Markers::Question);

    // False when the template cannot become a valid statement with these values.
    bool isValid() const { return m_valid; }
    const std::string& sql() const { return m_sql; }
    const std::vector<Value>& values() const { return m_values; }

private:
    void compile(const std::string& text, const CMapStringToString* params);
    void addMarker();
    bool bindQuoted(const std::string& name, const CMapStringToString* params);
    bool bindBare(const std::string& name, const CMapStringToString* params);

    Markers m_markers;
    bool m_valid = true;
    std::string m_sql;
    std::vector<Value> m_values;
};
