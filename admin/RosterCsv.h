#pragma once

#include "data/CDbAccess.h"

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// The roster as the office keeps it in a spreadsheet: one line per pupil
// (group, card ID, name, notices "する"/"しない", then the addresses, one per
// column), and one line with a group alone for a group without pupils. The
// export writes it, the import reads the same layout back.
namespace RosterCsv {

// The roster of a store, as the import compares a file with it.
struct Roster {
    std::vector<CDbAccess::RosterPupil> pupils; // in the order of the lists
    std::vector<CString> groups;                // every group, in order
    CString adminGroup;                         // the administrators' group's name
};
// Reads the roster of db: false when the store could not be read.
bool load(CDbAccess& db, Roster& roster);

// The whole file: byte-order mark, header line, the lines.
std::string write(const Roster& roster);

// One line of an imported file and what it would do.
struct Line {
    enum class Change { Added, Changed, Same, GroupOnly };
    int line = 0;
    CDbAccess::RosterPupil pupil;
    Change change = Change::Same;
    // Why the line cannot be stored; empty for a good line.
    std::vector<std::string> problems;
};
// What a file would change, before anything is stored.
struct Preview {
    std::vector<Line> lines;
    // Groups the file names that do not exist: created by the import.
    std::vector<CString> newGroups;
    // A problem of the whole file (not UTF-8, no header, a broken quote).
    std::string fileProblem;

    // True when no line has a problem.
    bool storable() const;
    // The pupils the import stores: those added or changed.
    std::vector<CDbAccess::RosterPupil> changes() const;
};
Preview read(std::string_view text, const Roster& current);

} // namespace RosterCsv
