// The URL a transfer is at, and the rules for where a redirect may take it.
// Both transfers follow every redirect themselves, so each hop passes these
// rules: an installer that runs elevated must not be swapped on an unencrypted
// hop, and a URL never carries a password to whichever host it names.
#pragma once

#include <optional>
#include <utility>

#include "framework/Strings.h"

class RedirectTrail {
public:
    static constexpr int kMaxRedirects = 5;

    explicit RedirectTrail(CStringW url) : url_(std::move(url)) {}

    static bool IsRedirect(unsigned long status) { return status >= 300 && status < 400; }

    // The URL to request next. Throws std::runtime_error when it carries user
    // credentials, so a URL given that way fails before any request.
    const CStringW& Next() const;
    int Count() const { return count_; }

    // Moves on to where a 3xx answer's Location points. Throws
    // std::runtime_error, and stays where it is, when the redirect is one too
    // many, has no Location, leaves HTTP, goes from HTTPS to HTTP or names
    // user credentials. Every redirect counts, followed or not.
    void Follow(const std::optional<CStringW>& location);

private:
    CStringW url_;
    int count_ = 0;
};
