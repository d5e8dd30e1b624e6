// Paths and folders below the working folder, without the 260-character
// buffers of the PathAppend family: the extraction folders add a level.
#pragma once

#include "framework/Strings.h"

// folder and relative with exactly one separator between them.
CStringW JoinPath(const CStringW& folder, const CStringW& relative);
// The part of a '\\'-separated relative path before its last part; empty for one part.
CStringW ParentOf(const CStringW& relative);
bool IsExistingFolder(const CStringW& path);
// Creates folder\relative part by part (relative: '\\'-separated, no empty or
// ".." parts); parts that exist as folders are fine.
bool CreateFolderChain(const CStringW& folder, const CStringW& relative);
