// Names of downloaded files. Names come from the server (a URL's last segment,
// the product's file name) and are reduced to one safe name, so nothing is
// ever written outside the folder the wizard chose.
#pragma once

#include "framework/Strings.h"

// What a download is called when nothing usable is left of its name.
inline constexpr wchar_t kFallbackFileName[] = L"download";

// The last segment of the URL's path, without query and fragment; empty when
// the path ends in '/' or there is none. Nothing is decoded.
CStringW FileNameFromUrl(const CStringW& url);

// One plain file name: the last part after any '/' or '\\', characters that
// change the direction of the text removed, characters Windows forbids and
// control characters replaced by '_', no trailing dots or blanks, reserved
// device names (CON, NUL, COM1, CONIN$, ...) prefixed with '_', at most
// kMaxFileNameLength characters with the extension kept; kFallbackFileName
// when nothing is left.
CStringW SafeFileName(const CStringW& name);
inline constexpr size_t kMaxFileNameLength = 120;

// "name (n).ext", the way browsers name a second copy ("name (n)" without an
// extension). The extension is what follows the last dot that is not the
// first character.
CStringW NumberedFileName(const CStringW& name, int number);
