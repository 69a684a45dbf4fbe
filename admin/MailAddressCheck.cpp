#include "admin/MailAddressCheck.h"

#include <string_view>

bool isAcceptableMailAddress(const CString& address) {
    const std::string& text = address.str();
    if (text.empty() || text.find('@') == std::string::npos)
        return false;
    // The ideographic space, U+3000, in UTF-8.
    if (text.find(std::string_view("\xE3\x80\x80")) != std::string::npos)
        return false;
    return text.find(' ') == std::string::npos && !address.HasControlCharacter();
}
