#include "download/RedirectTrail.h"

#include <stdexcept>

#include "download/UrlResolution.h"

const CStringW& RedirectTrail::Next() const {
    if (HasUserInfo(url_)) throw std::runtime_error("URL with user credentials refused.");
    return url_;
}

void RedirectTrail::Follow(const std::optional<CStringW>& location) {
    if (++count_ > kMaxRedirects) throw std::runtime_error("Too many redirects.");
    if (!location || location->empty()) throw std::runtime_error("Redirect without a Location header.");
    const CStringW target = ResolveLocation(url_, *location);
    if (!IsHttpUrl(target)) throw std::runtime_error("Redirect to a URL that is not HTTP or HTTPS.");
    if (IsHttpsUrl(url_) && !IsHttpsUrl(target)) throw std::runtime_error("Redirect from HTTPS to HTTP refused.");
    if (HasUserInfo(target)) throw std::runtime_error("Redirect to a URL with user credentials refused.");
    url_ = target;
}
