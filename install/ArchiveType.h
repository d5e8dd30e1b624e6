// Recognises a downloaded package that arrived as an archive by its first
// bytes: the name a server gives a file says nothing reliable about it.
#pragma once

#include "framework/Strings.h"

enum class ArchiveType { None = 0, Zip = 1, SevenZip = 2 };

// Zip for a local file header signature ("PK", 3, 4), SevenZip for the 7z
// signature; None for anything else, including files that cannot be read.
ArchiveType GetArchiveType(const CStringW& path);
