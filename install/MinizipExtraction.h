// ZIP extraction with minizip, the one extractor of the wizard: its limits and
// its reading of entry names are the ones the tests hold it to. Entries whose
// names would land outside the target folder are refused: they are never
// written.
#pragma once

#include "framework/Strings.h"
#include "install/ZipLimits.h"

// Extracts every acceptable entry of archive below folder (which must exist),
// recreating the entries' subfolders, and counts every entry and every byte
// written in account. True when the archive could be read to its end, every
// accepted entry was written whole and matched its CRC, at least one file was
// written and no limit was passed. A file that fails halfway, or at a limit,
// is removed again; account tells when a limit stopped the extraction.
bool ExtractZipWithMinizip(const CStringW& archive, const CStringW& folder, UnpackAccount& account);

// Judges what the archive's central directory claims, entry by entry, with
// account, before anything is written. True when the directory could be read
// to its end within the limits; false otherwise, with account's refusal when
// a limit was passed.
bool ZipClaimsWithinLimits(const CStringW& archive, UnpackAccount& account);
