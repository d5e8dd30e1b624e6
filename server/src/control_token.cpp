#include "control_token.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include <openssl/crypto.h>
#include <openssl/rand.h>

namespace ostrel {

std::string NewControlToken() {
  std::array<unsigned char, 32> bytes{};
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
    throw std::runtime_error("no random bytes for the control token");
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char byte : bytes) {
    token.push_back(kHex[byte >> 4]);
    token.push_back(kHex[byte & 0x0f]);
  }
  return token;
}

void WriteControlTokenFile(const std::filesystem::path& file, const std::string& token) {
  std::filesystem::path partial = file;
  partial += ".partial";
  std::filesystem::remove(partial);
  // Created with its final mode: never readable by others, not even for a moment.
  int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) throw std::runtime_error("cannot write " + partial.string() + ": " + std::strerror(errno));
  const std::string text = token + "\n";
  bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  written = ::close(fd) == 0 && written;
  std::error_code error;
  if (written) std::filesystem::rename(partial, file, error);
  if (!written || error) {
    std::filesystem::remove(partial, error);
    throw std::runtime_error("cannot write " + file.string());
  }
}

bool CarriesControlToken(const httplib::Request& req, const std::string& token) {
  if (token.empty() || req.get_header_value_count(kControlTokenHeader) != 1) return false;
  const std::string& given = req.get_header_value(kControlTokenHeader);
  return given.size() == token.size() && CRYPTO_memcmp(given.data(), token.data(), token.size()) == 0;
}

}  // namespace ostrel
