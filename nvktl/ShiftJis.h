#pragma once

namespace NVKTL {

// The code page 932 (Windows Shift-JIS) code of one Unicode character: the
// byte itself for ASCII, one byte 0xA1-0xDF for half-width katakana, a
// two-byte code with the lead byte high for the double-byte characters, 0
// when the code page has no such character.
// IBM extensions (lead bytes 0xFA-0xFC) never come out: each is given as its
// NEC twin, the code that Japanese mail programs read in ISO-2022-JP mail.
unsigned ToShiftJis(char32_t ch);

// The NEC code for an IBM extension (0xFA40-0xFC4B): the NEC-selected twin
// (0xED40-0xEEFC), or the NEC special character or standard character the
// IBM code duplicates. Any other code comes back unchanged.
unsigned short IbmToNecCode(unsigned short code);

} // namespace NVKTL
