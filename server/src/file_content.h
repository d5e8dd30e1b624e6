#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace ostrel {

// The bytes the file host serves for one path: bytes a test gave, bytes generated
// from a seed (so a benchmark file of hundreds of MiB needs no memory or disk), or a
// file of the data folder.
class FileContent {
 public:
  static std::shared_ptr<const FileContent> FromBytes(std::string bytes);
  static std::shared_ptr<const FileContent> Generated(std::uint64_t size, std::uint64_t seed);
  // The size is taken now; a file that shrinks later ends its responses early.
  static std::shared_ptr<const FileContent> FromFile(const std::filesystem::path& file);

  // Reads the content front to back; one per response, so requests never share a
  // file position.
  class Cursor {
   public:
    // Starts at byte `offset` (a range's first byte).
    explicit Cursor(std::shared_ptr<const FileContent> content, std::uint64_t offset = 0);
    // Copies up to max bytes into out; 0 at the end (or when the file cannot be read).
    std::size_t Next(char* out, std::size_t max);
    std::uint64_t Offset() const { return offset_; }

   private:
    std::shared_ptr<const FileContent> content_;
    std::unique_ptr<std::ifstream> file_;
    std::uint64_t offset_ = 0;
  };

  std::uint64_t Size() const { return size_; }

  // A strong entity tag, quoted: the same bytes always have the same tag, other
  // bytes another (a digest of given bytes, the seed and size of generated
  // ones, the modification time and size of a file).
  const std::string& EntityTag() const { return entityTag_; }
  // Seconds since 1970: when the bytes were given or generated, or the file's
  // modification time.
  std::int64_t ModifiedAt() const { return modifiedAt_; }

  // Byte i of generated content; fixed for a seed, so both ends can recompute it.
  static void Generate(std::uint64_t seed, std::uint64_t offset, char* out, std::size_t length);

 private:
  enum class Kind { Bytes, Generated, File };
  FileContent(Kind kind, std::uint64_t size) : kind_(kind), size_(size) {}

  Kind kind_;
  std::uint64_t size_;
  std::string bytes_;
  std::uint64_t seed_ = 0;
  std::filesystem::path file_;
  std::string entityTag_;
  std::int64_t modifiedAt_ = 0;
};

// Lower-case hex SHA-256 of every byte, for tests to compare with what arrived.
std::string ContentSha256Hex(const std::shared_ptr<const FileContent>& content);

}  // namespace ostrel
