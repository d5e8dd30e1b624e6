#include "body_json.h"

namespace ostrel {

namespace {

using nlohmann::json;

struct NestedTooDeep {};

}  // namespace

const char* BodyJson::Problem() const {
  switch (verdict) {
    case Verdict::Parsed:
      return "";
    case Verdict::TooDeep:
      return "JSON nested too deeply";
    case Verdict::Malformed:
      break;
  }
  return "not JSON";
}

BodyJson ParseBodyJson(std::string_view text, int maxDepth) {
  BodyJson result;
  // The callback sees each object and array as it opens, at the depth of its
  // parent (0 for the outermost), so the walk stops at the first level too many.
  auto limitDepth = [maxDepth](int depth, json::parse_event_t event, json&) {
    if ((event == json::parse_event_t::object_start || event == json::parse_event_t::array_start) &&
        depth >= maxDepth) {
      throw NestedTooDeep{};
    }
    return true;
  };
  try {
    result.value = json::parse(text.begin(), text.end(), limitDepth, false);
  } catch (const NestedTooDeep&) {
    result.verdict = BodyJson::Verdict::TooDeep;
    return result;
  }
  result.verdict = result.value.is_discarded() ? BodyJson::Verdict::Malformed : BodyJson::Verdict::Parsed;
  if (!result.Parsed()) result.value = json();
  return result;
}

}  // namespace ostrel
