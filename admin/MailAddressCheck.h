#pragma once

#include "nvktl/CMapStringToString.h"

// A mail address as the administration screens accept it: not empty, with an
// "@", and without blanks (ASCII or full-width), line breaks or other control
// characters. Anything else could never be delivered, and a line break would
// end the SMTP command that carries the address.
bool isAcceptableMailAddress(const CString& address);

// The refusal shown for an address that is not acceptable.
inline constexpr const char* kBadMailAddress =
    "メールアドレスに空白や改行が含まれているか、@がありません";
