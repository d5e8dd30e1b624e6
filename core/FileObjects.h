// Files and folders judged on an open handle, never on a name: between a test
// of a name and its use, another process of the same user can put a link
// (junction, symbolic link) in its place, and an elevated wizard would then
// write or delete wherever that link points.
#pragma once

#include <windows.h>

#include <vector>

#include "framework/Handles.h"
#include "framework/Strings.h"

// What an object opened without following turned out to be.
enum class FileObjectKind {
    File,
    Directory,
    Link,       // the handle holds the link itself
    Elsewhere,  // the handle reached something that is not at the expected place (a link this
                // system followed anyway) or cannot be judged: to be left alone
};

// One entry of a directory listing.
struct DirectoryEntry {
    CStringW name;
    DWORD attributes = 0;
};

// Opens path itself: a link is opened as the link, a directory with backup
// semantics so that it can be listed and removed through the handle.
// The path without separators at its end (a lone separator stays).
CStringW WithoutTrailingSeparators(CStringW path);
// The same path as Windows compares them: ordinal, ignoring case.
bool SamePath(const CStringW& a, const CStringW& b);

framework::UniqueKernelHandle OpenWithoutFollowing(const CStringW& path, DWORD access, DWORD share);

// Where the system says the object of handle is ("\\?\C:\..."); empty when it cannot tell.
CStringW FinalPath(HANDLE handle);

// The final path an entry called name of the directory held by directory
// has; empty when the system cannot name the directory's place.
CStringW FinalPathOfEntry(HANDLE directory, const CStringW& name);

// The final path path has when its last part is no link; empty when its
// folder cannot be opened.
CStringW ExpectedFinalPath(const CStringW& path);

// What handle holds, where expectedFinalPath is where it should be (empty:
// where the system cannot name places, judged by the attributes alone).
FileObjectKind KindOf(HANDLE handle, const CStringW& expectedFinalPath);

// The entries of the directory held by directory, without "." and "..".
std::vector<DirectoryEntry> ListDirectory(HANDLE directory);

// Removes the object of handle (a file, an empty directory, a link as a
// link) when the handle is closed; false with the thread's last error set
// when the system refuses. A read-only file loses that attribute first.
bool DeleteOnClose(HANDLE handle);

// Creates path as a new directory, with security when given (else the one
// it inherits). False when anything of that name exists already, or when
// what was created is not a plain directory at that very place (a link put
// there in the meantime is never taken for it).
bool CreateNewDirectory(const CStringW& path, SECURITY_ATTRIBUTES* security = nullptr);

// Creates path as a new, empty file and returns the handle (null, with the
// thread's last error, when it cannot): never an existing file, never
// through a link put at that name, and only when what was created is a plain
// file at that very place. The handle is the way to the file from then on.
framework::UniqueKernelHandle CreateNewFile(const CStringW& path, DWORD access, DWORD share);

// Gives the file of handle (opened with DELETE access) the full path
// newPath in the same volume, never replacing what is there; false, with the
// thread's last error (ERROR_ALREADY_EXISTS for a taken name), when the
// system refuses.
bool RenameThroughHandle(HANDLE handle, const CStringW& newPath);
