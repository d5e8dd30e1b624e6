#include "file_content.h"

#include "sha256_hex.h"

#include <openssl/evp.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace ostrel {

namespace {

// splitmix64: cheap, well mixed, and trivial to reimplement in another language.
std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

std::string HexNumber(std::uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
  return text;
}

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

}  // namespace

std::shared_ptr<const FileContent> FileContent::FromBytes(std::string bytes) {
  auto content = std::shared_ptr<FileContent>(new FileContent(Kind::Bytes, bytes.size()));
  content->entityTag_ = "\"b-" + Sha256Hex(bytes).substr(0, 32) + "\"";
  content->modifiedAt_ = Now();
  content->bytes_ = std::move(bytes);
  return content;
}

std::shared_ptr<const FileContent> FileContent::Generated(std::uint64_t size, std::uint64_t seed) {
  auto content = std::shared_ptr<FileContent>(new FileContent(Kind::Generated, size));
  content->seed_ = seed;
  content->entityTag_ = "\"g-" + HexNumber(seed) + "-" + HexNumber(size) + "\"";
  content->modifiedAt_ = Now();
  return content;
}

std::shared_ptr<const FileContent> FileContent::FromFile(const std::filesystem::path& file) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error) throw std::runtime_error("cannot read " + file.string() + ": " + error.message());
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) throw std::runtime_error("cannot read " + file.string());
  auto content = std::shared_ptr<FileContent>(new FileContent(Kind::File, size));
  content->file_ = file;
  const std::uint64_t modifiedNs = static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 1000000000ull +
                                   static_cast<std::uint64_t>(info.st_mtim.tv_nsec);
  content->entityTag_ = "\"f-" + HexNumber(modifiedNs) + "-" + HexNumber(size) + "\"";
  content->modifiedAt_ = static_cast<std::int64_t>(info.st_mtim.tv_sec);
  return content;
}

void FileContent::Generate(std::uint64_t seed, std::uint64_t offset, char* out, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    const std::uint64_t position = offset + done;
    const std::uint64_t word = Mix(seed ^ Mix(position / 8));
    const std::size_t first = static_cast<std::size_t>(position % 8);
    const std::size_t take = std::min<std::size_t>(8 - first, length - done);
    for (std::size_t i = 0; i < take; ++i) out[done + i] = static_cast<char>((word >> (8 * (first + i))) & 0xFF);
    done += take;
  }
}

FileContent::Cursor::Cursor(std::shared_ptr<const FileContent> content, std::uint64_t offset)
    : content_(std::move(content)), offset_(std::min(offset, content_->size_)) {
  if (content_->kind_ == Kind::File) {
    file_ = std::make_unique<std::ifstream>(content_->file_, std::ios::binary);
    if (offset_ > 0) file_->seekg(static_cast<std::streamoff>(offset_));
  }
}

std::size_t FileContent::Cursor::Next(char* out, std::size_t max) {
  const std::uint64_t left = content_->size_ - offset_;
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, max));
  if (want == 0) return 0;
  std::size_t got = 0;
  switch (content_->kind_) {
    case Kind::Bytes:
      std::memcpy(out, content_->bytes_.data() + offset_, want);
      got = want;
      break;
    case Kind::Generated:
      Generate(content_->seed_, offset_, out, want);
      got = want;
      break;
    case Kind::File:
      if (!file_ || !*file_) return 0;
      file_->read(out, static_cast<std::streamsize>(want));
      got = static_cast<std::size_t>(file_->gcount());
      break;
  }
  offset_ += got;
  return got;
}

std::string ContentSha256Hex(const std::shared_ptr<const FileContent>& content) {
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("cannot start SHA-256");
  }
  FileContent::Cursor cursor(content);
  std::vector<char> block(1 << 20);
  while (std::size_t got = cursor.Next(block.data(), block.size())) {
    EVP_DigestUpdate(context.get(), block.data(), got);
  }
  if (cursor.Offset() != content->Size()) throw std::runtime_error("content ended before its size");
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int size = 0;
  EVP_DigestFinal_ex(context.get(), digest.data(), &size);
  return LowerHex(digest.data(), size);
}

}  // namespace ostrel
