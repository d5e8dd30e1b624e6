#include "config_service.h"

#include <fstream>
#include <sstream>
#include <system_error>

#include <nlohmann/json.hpp>

#include "body_json.h"
#include "config_signing.h"

namespace ostrel {

namespace {

constexpr std::size_t kMaxTokenLength = 64;

bool IsTokenChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

bool IsRegularFile(const std::filesystem::path& file) {
  std::error_code error;
  return std::filesystem::is_regular_file(file, error);
}

}  // namespace

std::string TokenStem(const nlohmann::json& request) {
  if (!request.is_object()) return {};
  auto it = request.find("u");
  if (it == request.end() || !it->is_string()) return {};
  const std::string& token = it->get_ref<const std::string&>();
  if (token.empty() || token.size() > kMaxTokenLength) return {};
  for (char c : token) {
    if (!IsTokenChar(c)) return {};
  }
  return token;
}

ConfigChoice ChooseConfig(const std::filesystem::path& configsDir, const std::string& requestBody) {
  ConfigChoice choice;
  const BodyJson request = ParseBodyJson(requestBody);
  // The wizard always posts a JSON object; anything else is a client bug worth seeing.
  if (!request.value.is_object()) {
    choice.status = 400;
    choice.reason = request.Parsed() ? "request body is not a JSON object" : request.Problem();
    return choice;
  }
  std::string stem = TokenStem(request.value);
  if (!stem.empty()) {
    auto file = configsDir / (stem + ".json");
    if (IsRegularFile(file)) {
      choice.file = file;
      choice.reason = "token " + stem;
      return choice;
    }
  }
  auto fallback = configsDir / "default.json";
  if (!IsRegularFile(fallback)) {
    choice.status = 404;
    choice.reason = "no " + fallback.string();
    return choice;
  }
  choice.file = fallback;
  choice.reason = stem.empty() ? "default" : "default (no configuration for token " + stem + ")";
  return choice;
}

ConfigService::ConfigService(const ServiceContext& context)
    : configsDir_(context.dataDir / "configs"), signer_(context.signer), tampers_(context.signatureTampers) {}

void ConfigService::Sign(const httplib::Request& req, httplib::Response& res, std::string& answer) const {
  const SignatureTamperBook::Plan plan = tampers_.Current();
  // The nonce as sent; a request without one gets a signature over none.
  std::string nonce = req.get_header_value("X-Ostrel-Nonce");
  std::string request = req.body;
  switch (plan.tamper) {
    case SignatureTamper::Omit:
      return;
    case SignatureTamper::Verbatim:
      res.set_header("X-Ostrel-Signature", plan.header);
      return;
    case SignatureTamper::OtherNonce:
      nonce = std::string(32, '0');
      break;
    case SignatureTamper::OtherRequest:
      request += " ";
      break;
    case SignatureTamper::None:
    case SignatureTamper::FlipBody:
      break;
  }
  res.set_header("X-Ostrel-Signature", signer_->HeaderValue(nonce, request, answer));
  if (plan.tamper == SignatureTamper::FlipBody && !answer.empty()) answer[answer.size() / 2] ^= 0x01;
}

void ConfigService::Mount(Routes& routes) {
  routes.ControlPost("/_test/signing", [this](const httplib::Request& req, httplib::Response& res) {
    try {
      tampers_.Set(req.body);
      SendJson(res, 200, "{}");
    } catch (const std::exception& e) {
      SendError(res, 400, e.what());
    }
  });
  routes.Post("/o", [this](const httplib::Request& req, httplib::Response& res) {
    ConfigChoice choice = ChooseConfig(configsDir_, req.body);
    if (choice.status != 200) {
      SendError(res, choice.status, choice.reason);
      return;
    }
    // The file goes out byte for byte, so a test can serve deliberately odd JSON.
    std::ifstream in(choice.file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in) {
      SendError(res, 500, "cannot read " + choice.file.string());
      return;
    }
    std::string answer = bytes.str();
    if (signer_) Sign(req, res, answer);
    SendJson(res, 200, answer);
  });
}

}  // namespace ostrel
