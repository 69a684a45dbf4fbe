#pragma once

#include "nvktl/CMapStringToString.h"

#include <functional>
#include <vector>

class CDbAccess;
class QWidget;

// Shown instead of a screen's success message when its writes did not reach
// the data file (a full or read-only disk, a file held by another program).
inline constexpr const char* kNotStored =
    "データを保存できませんでした。ディスクの空きと書き込みの権限を確認してください。";

// Runs the writes of one screen action inside one transaction of db. True only
// when every write reported success and the commit reached the file; otherwise
// the file is left exactly as it was before.
bool storeTogether(CDbAccess& db, const std::function<bool()>& writes);

// The outcome of an action: its success message when it was stored, else
// kNotStored as a warning.
void showOutcome(QWidget* screen, bool stored, const CString& success, const CString& caption);

// Stores the addresses of a user screen for userId: the edit's text first when
// it is not empty, then every list entry, each address once whatever its
// letter case. True when all of them were stored.
bool addAddresses(CDbAccess& db, const CString& userId, const CString& edit,
                  const std::vector<CString>& entries);
