#pragma once

#include "nvktl/CMapStringToString.h"

#include <string>
#include <string_view>

// The files of the data folder and the file work around them: where the
// folder is, the copies of the master file, and what start-up prepares.
// Folder paths end with "/". The folder is private (0700) and so is every
// file made here (0600): they hold names, addresses and the SMTP password.
// In a folder shared by a group (setgid, as the installed terminal's) the
// group may read and write too (02770 and 0660), nobody else.
class CDataFiles {
public:
    // The data file in use.
    static constexpr std::string_view dataFile = "poston.mdb";
    // The master file installed with the program: empty tables and fixed rows.
    static constexpr std::string_view masterFile = "master.mdb";
    // A copy of the master file waiting to receive the data file's contents.
    static constexpr std::string_view masterCopy = "マスタ ～ poston.mdb";
    // Backups are "bk" + timestamp + ".mdb".
    static constexpr std::string_view backupPrefix = "bk";
    static constexpr std::string_view backupSuffix = ".mdb";

    // <base folder>/data/, the base folder being the parent of the folder
    // that holds the running program.
    static CString defaultFolder();

    // Creates the folder with mode 0700 (02770 in a group's shared folder)
    // when it is missing (its parent must exist). True when the folder exists
    // afterwards.
    static bool ensureFolder(const CString& folder);

    static bool exists(const CString& path);

    // Copies from to a temporary file beside to, syncs it and renames it over
    // to, so that to is either the old file or the complete copy. The copy
    // has mode 0600 (0660 in a group's shared folder). A stale journal of to
    // is removed with the old file.
    static bool copyFile(const CString& from, const CString& to);

    // Writes bytes to path through a temporary file renamed over it, with the
    // same modes as copyFile; ownerOnly keeps it 0600 even in a group's
    // folder (libpq ignores a password file that others may read).
    static bool writeFile(const CString& path, const std::string& bytes, bool ownerOnly = false);

    // Removes a database file together with its journal. True when neither
    // exists afterwards.
    static bool removeDatabase(const CString& path);

    // Makes the folder's latest renames and removals durable.
    static bool syncFolder(const CString& folder);

    // Start-up's preparation of the folder (created when missing): places a
    // fresh copy of the master file under the master copy's name when there is
    // no data file yet, when the data file was last accessed before the
    // master file (a newly installed master file), or when the data file's
    // layout (its user_version) is older than the master file's, which the
    // program would not be able to use. A failed copy leaves no new file and
    // is not reported. True when a master copy now waits for the migration,
    // whether new or left from an earlier start.
    static bool prepare(const CString& folder);
};
