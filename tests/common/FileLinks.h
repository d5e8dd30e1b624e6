// Links planted where the wizard removes files, and the removals the system
// keeps for the next restart: what the tests of an elevated clean-up need.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ostrel::testing {

// Puts a link at link pointing at target (a folder when directory is set):
// on Windows a junction for a folder, a symbolic link for a file; under Wine,
// which keeps no reparse points, a Unix symbolic link, which its file calls
// follow as they would follow a junction. True when the link is there.
bool MakeLink(const std::wstring& link, const std::wstring& target, bool directory);
// Removes the link itself, never what it points at; true when it is gone.
bool RemoveLink(const std::wstring& link);
// The paths scheduled for removal at restart, in the order they were
// scheduled, as the program gave them (without the "\??\" prefix), from
// the first-th on: a test counts them before it acts, since the restart that
// would clear them never comes in a test prefix and names come round again.
std::vector<std::wstring> PendingRemovals(size_t first = 0);
// Where path stands among pending (case ignored); -1 when absent.
int PendingRemovalIndex(const std::vector<std::wstring>& pending, const std::wstring& path);

}  // namespace ostrel::testing
