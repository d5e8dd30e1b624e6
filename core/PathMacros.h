// Folder macros in server-supplied paths: "{localappdata}\Vendor\app.exe".
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <unordered_map>

#include "framework/Strings.h"

using PathMacroMap = std::unordered_map<CStringW, CStringW>;

// The path of a known folder (the default user's when asked), or "".
CStringW GetKnownFolderPath(const KNOWNFOLDERID& folder, bool defaultUser);

// Builds both macro maps: every macro this machine has, and the ones that
// exist only on 64-bit Windows.
void BuildPathMacros(PathMacroMap& macros, PathMacroMap& macros64);

// Replaces every "{name}" of a macro in the map by its folder; other braces stay.
CStringW ExpandPathMacros(CStringW path, const PathMacroMap& macros);
