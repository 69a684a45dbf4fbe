#pragma once

#include "nvktl/CString.h"

// A user's or a group's name goes into a line of every notification and is
// shown on the greeting screen; a name longer than this many characters is
// refused when it is registered.
inline constexpr int kMaxNameLength = 50;
inline constexpr const char* kNameTooLong = "名前が長すぎます。50文字以内で入力してください。";

inline bool isAcceptableNameLength(const NVKTL::CString& name) {
    const std::string& text = name.str();
    int characters = 0;
    for (std::size_t i = 0; i < text.size(); i += NVKTL::CString::CharLength(text, i))
        ++characters;
    return characters <= kMaxNameLength;
}
