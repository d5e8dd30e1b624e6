// Turns a downloaded package into the program to start. A ZIP package is
// extracted into a new folder of its own inside the working folder, and the
// first ".exe" found there is the installer: the working folder also holds
// every other downloaded package, whose installers must never be mistaken
// for this one's.
#pragma once

#include <atomic>
#include <string>

#include "framework/Strings.h"
#include "install/ArchiveType.h"
#include "install/ZipLimits.h"

// What a package comes to: the program to start, or why the package is
// refused (a ZIP past the limits of ZipLimits.h), with no program.
struct PreparedInstaller {
    CStringW program;
    std::string refusal;
};

// The program to start for the package at path: for a ZIP, the first ".exe"
// directly inside the archive's own extraction folder below folder; path
// itself for every other type (a 7z package is started as it is), and when
// the ZIP cannot be extracted or holds no ".exe" at its top level. A ZIP past
// a limit is refused and its extraction folder removed again; so is one whose
// extraction the cancel flag ended.
PreparedInstaller PrepareInstaller(const CStringW& path, ArchiveType type, const CStringW& folder,
                                   const std::atomic<bool>* cancelled = nullptr);

// Creates a new, empty folder for the archive's contents inside folder, named
// after the archive ("offer.zip" -> "offer", then "offer (2)", ...) and
// returns its path; empty when none could be created.
CStringW CreateExtractionFolder(const CStringW& folder, const CStringW& archive);

// Whether an archive was extracted, and why it was refused when a limit stopped it.
struct ZipExtraction {
    bool extracted = false;
    std::string refusal;
};

// Extracts archive into folder within limits, with minizip alone: what the
// central directory claims is judged first, then what is really inflated;
// entries that would land outside folder are never written. An archive
// minizip cannot read is not extracted at all, since its claims cannot be
// judged.
ZipExtraction ExtractZip(const CStringW& archive, const CStringW& folder, const ZipLimits& limits,
                         const std::atomic<bool>* cancelled = nullptr);
