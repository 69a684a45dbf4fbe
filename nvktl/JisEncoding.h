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

// Whether every character of the UTF-8 text comes back unchanged from
// ISO-2022-JP as the common decoders read it (Python's codec, glibc's iconv,
// the WHATWG decoder): ASCII and JIS X 0208 as the standard maps it.
// Half-width katakana count as written (ToJis makes them full-width, as mail
// in Japan has them); the NEC and IBM extensions (髙, 﨑, ①), characters
// beyond JIS X 0208 (emoji) and broken UTF-8 do not fit.
bool FitsIso2022Jp(const CString& text);

// The UTF-8 text as it can be mailed: a broken sequence becomes U+FFFD, the
// bytes that would switch a reader's character set (ESC, SO, SI, NUL) become
// 〓, as in ToJis.
CString CleanUtf8(const CString& text);

enum class MailCharset { Iso2022Jp, Utf8 };

// The text as MIME encoded words ("=?ISO-2022-JP?B?" + Base64 of its ToJis
// conversion + "?=", or "=?UTF-8?B?" + Base64 of CleanUtf8) of at most 75
// characters each, every word ending between two characters (and in ASCII
// mode), so that any mail reader joins them back to the text. Words are
// folded onto lines of their own (CR LF and a space); the first word is kept
// to firstLineRoom characters, so that it fits behind its field name. An
// empty text gives no word at all.
void ToEncodedWords(const CString& source, std::size_t firstLineRoom, CString& out,
                    MailCharset charset = MailCharset::Iso2022Jp);

} // namespace NVKTL
