#pragma once

#include "nvktl/CMapStringToString.h"

// What the migration screen shows while the tables are copied: the caption of
// the table being copied, the rows copied so far of that table, and the end of
// the table. The same three calls as the send thread's progress, so a screen
// shows both the same way. Every call comes from the thread that runs the
// migration.
class IMigrationProgress {
public:
    virtual ~IMigrationProgress() = default;

    virtual void progressStart(int position, int maximum) = 0;
    virtual void progressEnd() = 0;
    virtual void statusText(const CString& text) = 0;
};
