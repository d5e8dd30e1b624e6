#include "file_book.h"

#include <set>
#include <stdexcept>

namespace ostrel {

namespace {

using nlohmann::json;

const std::set<std::string> kKnownKeys = {
    "path",          "remove",   "body",     "bodyBase64", "size",      "seed",        "status",     "framing",
    "contentLength", "cutAfter", "location", "redirect",   "failFirst", "failStatus",  "chunkBytes", "chunkDelayMs",
    "contentType",   "cutWith",  "cutFirst", "ranges",     "etag",      "lastModified"};
const std::set<std::string> kRedirectKeys = {"hops", "status", "scheme", "relative", "to"};

[[noreturn]] void Refuse(const std::string& message) { throw std::invalid_argument(message); }

const json* Member(const json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return nullptr;
  return &*it;
}

std::uint64_t Unsigned(const json& value, const char* key) {
  if (!value.is_number_unsigned() && !(value.is_number_integer() && value.get<long long>() >= 0)) {
    Refuse(std::string("\"") + key + "\" must be a non-negative whole number");
  }
  return value.get<std::uint64_t>();
}

int WholeNumberIn(const json& value, const char* key, long long low, long long high) {
  if (!value.is_number_integer() || value.get<long long>() < low || value.get<long long>() > high) {
    Refuse(std::string("\"") + key + "\" must be a whole number from " + std::to_string(low) + " to " +
           std::to_string(high));
  }
  return value.get<int>();
}

std::string Text(const json& value, const char* key) {
  if (!value.is_string()) Refuse(std::string("\"") + key + "\" must be a string");
  return value.get<std::string>();
}

void RefuseUnknownKeys(const json& object, const std::set<std::string>& known, const std::string& where) {
  for (const auto& [key, value] : object.items()) {
    if (!known.count(key)) Refuse("unknown key \"" + key + "\"" + where);
  }
}

std::shared_ptr<const FileContent> ReadContent(const json& request) {
  const json* body = Member(request, "body");
  const json* base64 = Member(request, "bodyBase64");
  const json* size = Member(request, "size");
  if ((body != nullptr) + (base64 != nullptr) + (size != nullptr) > 1) {
    Refuse("give at most one of \"body\", \"bodyBase64\" and \"size\"");
  }
  if (Member(request, "seed") && !size) Refuse("\"seed\" goes with \"size\"");
  if (body) return FileContent::FromBytes(Text(*body, "body"));
  if (base64) return FileContent::FromBytes(DecodeBase64(Text(*base64, "bodyBase64")));
  if (size) {
    const json* seed = Member(request, "seed");
    return FileContent::Generated(Unsigned(*size, "size"), seed ? Unsigned(*seed, "seed") : 1);
  }
  return nullptr;
}

Framing ReadFraming(const std::string& name) {
  if (name == "length") return Framing::Length;
  if (name == "chunked") return Framing::Chunked;
  if (name == "close") return Framing::Close;
  Refuse("\"framing\" must be \"length\", \"chunked\" or \"close\"");
}

RedirectScheme ReadScheme(const std::string& name) {
  if (name == "same") return RedirectScheme::Same;
  if (name == "http") return RedirectScheme::Http;
  if (name == "https") return RedirectScheme::Https;
  if (name == "alternate") return RedirectScheme::Alternate;
  Refuse("\"redirect.scheme\" must be \"same\", \"http\", \"https\" or \"alternate\"");
}

RedirectChain ReadRedirect(const json& value) {
  if (!value.is_object()) Refuse("\"redirect\" must be an object");
  RefuseUnknownKeys(value, kRedirectKeys, " in \"redirect\"");
  RedirectChain chain;
  const json* hops = Member(value, "hops");
  if (!hops) Refuse("\"redirect.hops\" is required");
  chain.hops = WholeNumberIn(*hops, "redirect.hops", 1, FileBook::kMaxHops);
  if (const json* v = Member(value, "status")) chain.status = WholeNumberIn(*v, "redirect.status", 300, 399);
  if (const json* v = Member(value, "scheme")) chain.scheme = ReadScheme(Text(*v, "redirect.scheme"));
  if (const json* v = Member(value, "relative")) {
    if (!v->is_boolean()) Refuse("\"redirect.relative\" must be true or false");
    chain.relative = v->get<bool>();
  }
  if (const json* v = Member(value, "to")) chain.to = Text(*v, "redirect.to");
  return chain;
}

// A string sent verbatim, or false for none (kept as ""); absent: the content's own.
std::optional<std::string> ValidatorSetting(const json& request, const char* key) {
  const json* v = Member(request, key);
  if (!v) return std::nullopt;
  if (v->is_boolean() && !v->get<bool>()) return std::string();
  const std::string value = Text(*v, key);
  if (value.empty() || value.find_first_of("\r\n") != std::string::npos) {
    Refuse(std::string("\"") + key + "\" must be a header value or false");
  }
  return value;
}

FileBehaviour ReadBehaviour(const json& request) {
  FileBehaviour behaviour;
  behaviour.content = ReadContent(request);
  if (const json* v = Member(request, "status")) behaviour.status = WholeNumberIn(*v, "status", 200, 599);
  if (const json* v = Member(request, "framing")) behaviour.framing = ReadFraming(Text(*v, "framing"));
  if (const json* v = Member(request, "contentLength")) {
    behaviour.contentLength = Unsigned(*v, "contentLength");
    if (behaviour.framing != Framing::Length) Refuse("\"contentLength\" needs \"framing\": \"length\"");
  }
  if (const json* v = Member(request, "cutAfter")) behaviour.cutAfter = Unsigned(*v, "cutAfter");
  if (const json* v = Member(request, "cutWith")) {
    const std::string how = Text(*v, "cutWith");
    if (how != "close" && how != "noise") Refuse("\"cutWith\" must be \"close\" or \"noise\"");
    if (!behaviour.cutAfter) Refuse("\"cutWith\" needs \"cutAfter\"");
    behaviour.cutWithNoise = how == "noise";
  }
  if (const json* v = Member(request, "cutFirst")) {
    behaviour.cutFirst = WholeNumberIn(*v, "cutFirst", 1, 1000);
    if (!behaviour.cutAfter) Refuse("\"cutFirst\" needs \"cutAfter\"");
  }
  if (const json* v = Member(request, "ranges")) {
    if (!v->is_boolean()) Refuse("\"ranges\" must be true or false");
    behaviour.ranges = v->get<bool>();
  }
  behaviour.etag = ValidatorSetting(request, "etag");
  behaviour.lastModified = ValidatorSetting(request, "lastModified");
  if (const json* v = Member(request, "location")) behaviour.location = Text(*v, "location");
  if (const json* v = Member(request, "redirect")) behaviour.redirect = ReadRedirect(*v);
  if (const json* v = Member(request, "failFirst")) behaviour.failFirst = WholeNumberIn(*v, "failFirst", 0, 1000);
  if (const json* v = Member(request, "failStatus")) behaviour.failStatus = WholeNumberIn(*v, "failStatus", 200, 599);
  if (const json* v = Member(request, "chunkBytes")) {
    behaviour.chunkBytes =
        static_cast<std::size_t>(WholeNumberIn(*v, "chunkBytes", 1, static_cast<long long>(FileBook::kMaxChunkBytes)));
  }
  if (const json* v = Member(request, "chunkDelayMs")) {
    behaviour.chunkDelayMs = WholeNumberIn(*v, "chunkDelayMs", 0, FileBook::kMaxChunkDelayMs);
  }
  if (const json* v = Member(request, "contentType")) behaviour.contentType = Text(*v, "contentType");
  return behaviour;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string DecodeBase64(const std::string& text) {
  if (text.size() % 4 != 0) Refuse("\"bodyBase64\" is not base64 (length)");
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int values[4];
    int padding = 0;
    for (int j = 0; j < 4; ++j) {
      const char c = text[i + j];
      if (c == '=' && last && j >= 2 && (j == 3 || text[i + 3] == '=')) {
        values[j] = 0;
        ++padding;
        continue;
      }
      values[j] = Base64Value(c);
      if (values[j] < 0 || padding > 0) Refuse("\"bodyBase64\" is not base64");
    }
    const unsigned group = (values[0] << 18) | (values[1] << 12) | (values[2] << 6) | values[3];
    bytes += static_cast<char>((group >> 16) & 0xFF);
    if (padding < 2) bytes += static_cast<char>((group >> 8) & 0xFF);
    if (padding < 1) bytes += static_cast<char>(group & 0xFF);
  }
  return bytes;
}

std::string FileBook::Set(const json& request) {
  if (!request.is_object()) Refuse("file request must be a JSON object");
  RefuseUnknownKeys(request, kKnownKeys, "");
  const json* pathValue = Member(request, "path");
  if (!pathValue || !pathValue->is_string()) Refuse("\"path\" must be a string");
  std::string path = pathValue->get<std::string>();
  if (path.empty() || path.front() != '/') Refuse("\"path\" must start with /");
  if (path.rfind("/_test/", 0) == 0) Refuse("/_test/ paths cannot be files");
  if (path.find('?') != std::string::npos) Refuse("\"path\" is a path without a query");

  bool remove = false;
  if (const json* v = Member(request, "remove")) {
    if (!v->is_boolean()) Refuse("\"remove\" must be true or false");
    remove = v->get<bool>();
  }
  if (remove) {
    std::lock_guard lock(mutex_);
    entries_.erase(path);
    return path;
  }

  Entry entry;
  entry.behaviour = ReadBehaviour(request);
  entry.settings = request;
  entry.settings.erase("body");
  entry.settings.erase("bodyBase64");
  std::lock_guard lock(mutex_);
  entries_[path] = std::move(entry);
  return path;
}

std::optional<FileAnswer> FileBook::Take(const std::string& path) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(path);
  if (it == entries_.end()) return std::nullopt;
  Entry& entry = it->second;
  const FileBehaviour& behaviour = entry.behaviour;
  FileAnswer answer{behaviour, entry.requests < behaviour.failFirst,
                    behaviour.cutAfter && (behaviour.cutFirst == 0 || entry.requests < behaviour.cutFirst),
                    entry.bodyBytesSent};
  ++entry.requests;
  return answer;
}

std::optional<FileBehaviour> FileBook::Find(const std::string& path) const {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(path);
  if (it == entries_.end()) return std::nullopt;
  return it->second.behaviour;
}

void FileBook::Clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

json FileBook::Describe() const {
  std::lock_guard lock(mutex_);
  json out = json::object();
  for (const auto& [path, entry] : entries_) {
    json described = entry.settings;
    described["requests"] = entry.requests;
    described["bodyBytesSent"] = entry.bodyBytesSent->load();
    out[path] = std::move(described);
  }
  return out;
}

}  // namespace ostrel
