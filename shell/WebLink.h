// Opening links that come from the server. The wizard runs elevated, so only
// web addresses are handed to the shell: a server-supplied file path, UNC
// path or other scheme is never executed.
#pragma once

#include "framework/Strings.h"

// True for an absolute http or https URL without control characters.
bool IsWebUrl(const CStringW& url);
// Opens a web URL in the user's browser, started by the desktop's shell with
// the user's rights (shell/DesktopShell.h); anything else is ignored. True
// when the shell took it; false, and nothing opened, without a desktop shell.
bool OpenWebUrl(const CStringW& url);
