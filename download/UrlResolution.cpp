#include "download/UrlResolution.h"

#include <cwctype>
#include <vector>

namespace {

struct UrlParts {
    CStringW scheme;  // without ':'; empty for a relative reference
    bool hasAuthority = false;
    CStringW authority;  // without "//"
    CStringW path;
    CStringW query;  // with '?', empty when there is none
};

bool IsSchemeChar(wchar_t c, bool first) {
    if (c < 0x80 && std::iswalpha(c)) return true;
    return !first && ((c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.');
}

// Length of the scheme before ':', or 0 when the text has none.
size_t SchemeLength(const CStringW& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L':') return i;
        if (!IsSchemeChar(text[i], i == 0)) return 0;
    }
    return 0;
}

UrlParts Split(CStringW text) {
    UrlParts parts;
    text = text.substr(0, text.find(L'#'));
    if (const size_t length = SchemeLength(text); length > 0) {
        parts.scheme = text.substr(0, length);
        text.erase(0, length + 1);
    }
    if (text.compare(0, 2, L"//") == 0) {
        parts.hasAuthority = true;
        const size_t end = text.find_first_of(L"/?", 2);
        parts.authority = text.substr(2, end == CStringW::npos ? CStringW::npos : end - 2);
        text.erase(0, end == CStringW::npos ? text.size() : end);
    }
    const size_t question = text.find(L'?');
    parts.path = text.substr(0, question);
    if (question != CStringW::npos) parts.query = text.substr(question);
    return parts;
}

CStringW RemoveDotSegments(const CStringW& path) {
    std::vector<CStringW> output;
    size_t start = path.empty() || path[0] != L'/' ? 0 : 1;
    bool trailingSlash = false;
    while (start <= path.size()) {
        const size_t end = path.find(L'/', start);
        const CStringW segment = path.substr(start, end == CStringW::npos ? CStringW::npos : end - start);
        trailingSlash = false;
        if (segment == L"..") {
            if (!output.empty()) output.pop_back();
            trailingSlash = true;
        } else if (segment == L".") {
            trailingSlash = true;
        } else {
            output.push_back(segment);
        }
        if (end == CStringW::npos) break;
        start = end + 1;
    }
    CStringW result = path.empty() || path[0] != L'/' ? CStringW() : CStringW(L"/");
    for (size_t i = 0; i < output.size(); ++i) {
        if (i > 0) result += L'/';
        result += output[i];
    }
    if (trailingSlash && (result.empty() || result.back() != L'/')) result += L'/';
    return result;
}

// The scheme of an absolute "scheme://" URL in lower case; empty otherwise.
CStringW AbsoluteScheme(const CStringW& url) {
    const size_t length = SchemeLength(url);
    if (length == 0 || url.compare(length, 3, L"://") != 0) return CStringW();
    CStringW scheme = url.substr(0, length);
    for (wchar_t& c : scheme) c = static_cast<wchar_t>(std::towlower(c));
    return scheme;
}

CStringW Join(const UrlParts& parts) {
    CStringW url = parts.scheme + L":";
    if (parts.hasAuthority) url += L"//" + parts.authority;
    return url + parts.path + parts.query;
}

// The base's directory followed by the reference's path.
CStringW Merge(const UrlParts& base, const CStringW& path) {
    if (base.hasAuthority && base.path.empty()) return L"/" + path;
    const size_t slash = base.path.rfind(L'/');
    return slash == CStringW::npos ? path : base.path.substr(0, slash + 1) + path;
}

}  // namespace

CStringW ResolveLocation(const CStringW& base, const CStringW& location) {
    const UrlParts reference = Split(location);
    if (!reference.scheme.empty()) {
        UrlParts target = reference;
        target.path = RemoveDotSegments(reference.path);
        return Join(target);
    }
    UrlParts target = Split(base);
    if (reference.hasAuthority) {
        target.authority = reference.authority;
        target.path = RemoveDotSegments(reference.path);
        target.query = reference.query;
    } else if (reference.path.empty()) {
        if (!reference.query.empty()) target.query = reference.query;
    } else if (reference.path[0] == L'/') {
        target.path = RemoveDotSegments(reference.path);
        target.query = reference.query;
    } else {
        target.path = RemoveDotSegments(Merge(target, reference.path));
        target.query = reference.query;
    }
    return Join(target);
}

bool IsHttpUrl(const CStringW& url) {
    const CStringW scheme = AbsoluteScheme(url);
    return scheme == L"http" || scheme == L"https";
}

bool IsHttpsUrl(const CStringW& url) {
    return AbsoluteScheme(url) == L"https";
}

bool HasUserInfo(const CStringW& url) {
    // Judged on the raw text up to the first slash after the scheme's ones:
    // parsers disagree on whether '?', '#' or '\\' end the host, and an '@'
    // that one of them reads as the end of a user name must not get through.
    const size_t scheme = SchemeLength(url);
    const size_t start = url.find_first_not_of(L"/\\", scheme == 0 ? 0 : scheme + 1);
    if (start == CStringW::npos) return false;
    const size_t end = url.find(L'/', start);
    return url.substr(start, end == CStringW::npos ? CStringW::npos : end - start).find(L'@') != CStringW::npos;
}
