#pragma once

#include "nvktl/CMapStringToString.h"

#include <QString>

// The program's texts are UTF-8 in CString; these convert them at the edge of
// the Qt widgets, and only there.
inline QString qt(const CString& text) {
    return QString::fromUtf8(text.c_str(), text.GetLength());
}
inline CString cs(const QString& text) {
    return CString(text.toStdString());
}
