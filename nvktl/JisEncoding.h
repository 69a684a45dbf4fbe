#pragma once

#include "nvktl/CString.h"

#include <cstddef>

namespace NVKTL {

// JIS X 0208 code (row byte high, cell byte low) of a double-byte Shift-JIS
// code (lead byte high, trail byte low), by the standard arithmetic. Codes
// outside JIS X 0208 give bytes outside 0x21-0x7E.
unsigned short ShiftJisToJis(unsigned short code);

// Converts UTF-8 text to ISO-2022-JP: ASCII as it is, everything else as
// JIS X 0208 between ESC $ B and ESC ( B; the result always ends in ASCII
// mode and holds no 8-bit byte. Half-width katakana become full-width (a
// following voiced or semi-voiced mark joins its kana); a character that
// cannot be written, a broken UTF-8 sequence, and the bytes that would switch
// a reader's character set (ESC, SO, SI, NUL) become 〓 (GETA MARK).
// A source that begins with ESC and is 7-bit throughout is taken as already
// converted and copied unchanged.
void ToJis(const CString& source, CString& out);

// The text as MIME encoded words ("=?ISO-2022-JP?B?" + Base64 of its ToJis
// conversion + "?=") of at most 75 characters each, every word
// starting and ending in ASCII mode and ending between two characters, so
// that any mail reader joins them back to the text. Words are folded onto
// lines of their own (CR LF and a space); the first word is kept to
// firstLineRoom characters, so that it fits behind its field name.
void ToEncodedWords(const CString& source, std::size_t firstLineRoom, CString& out);

} // namespace NVKTL
