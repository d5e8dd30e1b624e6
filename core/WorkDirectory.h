// Removing the wizard's working directory when a run ends.
#pragma once

#include <vector>

#include "framework/Strings.h"

// Removes a directory and everything below it. What is in use now, and the
// entries named in spared with everything below them, are scheduled for
// removal at the next restart instead, files before their folders; only
// paths within directory are ever scheduled. Every
// object is judged on its open handle: a link (junction, symbolic link) at
// any depth is removed as a link and never followed, and one that this
// system follows all the same is left where it is.
void DeleteDirectoryTree(const CStringW& directory, const std::vector<CStringW>& spared = {});

// True when path is folder itself or names something below it, part by
// part: never a sibling that shares its beginning ("C:\\T\\a" and
// "C:\\T\\ab"), never a way out through "." or "..", another separator or a
// stream name. Letter case does not count.
bool IsWithinFolder(const CStringW& path, const CStringW& folder);

// The entries of directory that hold the given programs: a program directly
// in it, or the top-level folder a program sits in. Programs elsewhere are ignored.
std::vector<CStringW> EntriesHolding(const CStringW& directory, const std::vector<CStringW>& programs);

// Removes the settings' working directory. The folders of installers that
// still run go at the next restart: they may still need what lies beside them.
// No installer starts once this has begun (RunningInstallers.h).
void DeleteWorkDirectory();
