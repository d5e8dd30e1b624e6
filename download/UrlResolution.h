// Where a redirect points: a Location may be absolute or relative to the URL
// that answered it.
#pragma once

#include "framework/Strings.h"

// The Location resolved against the URL it came from (the usual rules for
// relative references: scheme-relative, absolute path, query only, relative
// path with "." and ".." segments). The fragment is dropped.
CStringW ResolveLocation(const CStringW& base, const CStringW& location);

// True for absolute http: and https: URLs (scheme in any case).
bool IsHttpUrl(const CStringW& url);

// True for absolute https: URLs (scheme in any case).
bool IsHttpsUrl(const CStringW& url);

// True when the URL's host part holds user information ("user:password@host",
// also an empty one), or anything else with an '@' before the path: nothing
// the wizard fetches is addressed that way, whatever WinHTTP or WinINet would
// make of it.
bool HasUserInfo(const CStringW& url);
