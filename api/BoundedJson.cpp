#include "api/BoundedJson.h"

using nlohmann::json;

json ParseBoundedJson(const std::string& text, int maxNesting) {
    // The library tells the callback how many arrays and objects enclose the
    // one that opens; stopping there keeps the deep part from ever being built.
    const json::parser_callback_t refuseDeepNesting = [maxNesting](int depth, json::parse_event_t event, json&) {
        const bool opens = event == json::parse_event_t::object_start || event == json::parse_event_t::array_start;
        if (opens && depth >= maxNesting) {
            throw json::parse_error::create(
                101, 0, "arrays and objects nested deeper than " + std::to_string(maxNesting) + " levels", nullptr);
        }
        return true;
    };
    return json::parse(text, refuseDeepNesting);
}
