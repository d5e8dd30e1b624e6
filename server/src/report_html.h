#pragma once

#include <string>

#include "report.h"

namespace ostrel {

// The report as one self-contained HTML page: inline CSS and SVG only, no script,
// font or file from elsewhere, so it opens anywhere, on a phone and on paper; its
// Content-Security-Policy lets the browser load and run nothing else. Every chart has its numbers in a table beside it,
// each count with its share in per cent. Texts from the wire are escaped and bytes that are not UTF-8 shown as U+FFFD.
// Touches no shared state; never throws but std::bad_alloc.
std::string ReportHtml(const Report& report);

// Text made safe for HTML element content and attribute values.
std::string HtmlEscape(const std::string& text);

}  // namespace ostrel
