// Starting what the user launches (the downloaded product, Explorer showing
// it, a web page) with the user's own rights. The wizard runs elevated: what
// it started itself with ShellExecute would run as administrator too, and
// with the product any DLL planted beside it in Downloads. So the desktop's
// shell (Explorer, running as the user) is asked to start it instead, in its
// own process: ShellWindows finds the desktop's view, whose automation object
// offers ShellExecute.
//
// Where no desktop shell answers (no Explorer running, another shell without
// that object, a step refused), nothing is started: the wizard never falls
// back to starting it elevated itself. The downloaded product then stays in
// Downloads for the user to start, the folder is not revealed, the link is
// not opened.
//
// Call on a thread with a single-threaded COM apartment (the window's thread:
// the answer comes through another process). Installers the wizards run
// stay theirs to start (install/ProcessRunner.h), elevated.
#pragma once

#include <windows.h>

#include "framework/Strings.h"

// Asks the desktop's shell to open file with arguments in directory (either
// may be empty). S_OK once the shell took the request, which says nothing of
// whether the program then started; otherwise the failing step's error.
HRESULT StartThroughDesktopShell(const CStringW& file, const CStringW& arguments, const CStringW& directory, int show);
