#pragma once

#include <string_view>

#include <nlohmann/json.hpp>

namespace ostrel {

// Deeper than anything the wizard or a test sends by far, and shallow enough that
// dumping or walking the value can never exhaust a worker's stack.
inline constexpr int kMaxJsonDepth = 64;

// A request body read as JSON in one pass.
struct BodyJson {
  enum class Verdict { Parsed, Malformed, TooDeep };
  Verdict verdict = Verdict::Malformed;
  nlohmann::json value;  // set when Parsed

  bool Parsed() const { return verdict == Verdict::Parsed; }
  // For a 400 answer: why the body is not usable JSON.
  const char* Problem() const;
};

// Parses text, giving up as soon as objects and arrays nest deeper than maxDepth,
// before anything recursive has touched the value.
BodyJson ParseBodyJson(std::string_view text, int maxDepth = kMaxJsonDepth);

}  // namespace ostrel
