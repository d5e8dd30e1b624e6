// The file host's per-path behaviours and content, without a network.
#include <openssl/sha.h>

#include <set>

#include <gtest/gtest.h>

#include "file_book.h"
#include "file_content.h"
#include "file_service.h"
#include "test_support.h"

namespace ostrel {
namespace {

using nlohmann::json;

std::string ReadAll(const std::shared_ptr<const FileContent>& content, std::size_t piece) {
  FileContent::Cursor cursor(content);
  std::string bytes;
  std::vector<char> buffer(piece);
  while (std::size_t got = cursor.Next(buffer.data(), buffer.size())) bytes.append(buffer.data(), got);
  return bytes;
}

// SHA-256 through OpenSSL's one-shot call, apart from the streaming code under test.
std::string OneShotSha256(const std::string& bytes) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned char b : digest) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

TEST(FileContentTest, GeneratedBytesDoNotDependOnHowTheyAreRead) {
  auto content = FileContent::Generated(100003, 7);
  const std::string whole = ReadAll(content, 1 << 20);
  ASSERT_EQ(whole.size(), 100003u);
  EXPECT_EQ(ReadAll(content, 3), whole);
  EXPECT_EQ(ReadAll(content, 4096), whole);
  EXPECT_EQ(ContentSha256Hex(content), OneShotSha256(whole));

  // Another seed gives other bytes; the same seed the same ones.
  EXPECT_NE(ReadAll(FileContent::Generated(100003, 8), 4096), whole);
  EXPECT_EQ(ReadAll(FileContent::Generated(100003, 7), 777), whole);
  // Not a constant or short-period filler: most byte values occur.
  std::set<char> values(whole.begin(), whole.end());
  EXPECT_GT(values.size(), 250u);
}

TEST(FileContentTest, BytesAndFilesAreServedVerbatim) {
  testing::TempDir dir;
  const std::string bytes("a\0b\xff\r\n", 6);
  testing::WriteFile(dir.path() / "x.bin", bytes);
  EXPECT_EQ(ReadAll(FileContent::FromFile(dir.path() / "x.bin"), 2), bytes);
  EXPECT_EQ(ReadAll(FileContent::FromBytes(bytes), 4), bytes);
  EXPECT_EQ(ContentSha256Hex(FileContent::FromBytes(bytes)), OneShotSha256(bytes));
  EXPECT_EQ(ContentSha256Hex(FileContent::FromBytes("")), OneShotSha256(""));
  EXPECT_THROW(FileContent::FromFile(dir.path() / "missing"), std::runtime_error);
}

TEST(FileBookTest, ABehaviourHoldsWhatWasAskedFor) {
  FileBook book;
  EXPECT_EQ(book.Set({{"path", "/f/a.bin"},
                      {"size", 5000},
                      {"seed", 3},
                      {"status", 206},
                      {"framing", "length"},
                      {"contentLength", 4294967396ull},
                      {"cutAfter", 1000},
                      {"cutWith", "noise"},
                      {"chunkBytes", 512},
                      {"chunkDelayMs", 20},
                      {"contentType", "image/png"}}),
            "/f/a.bin");
  auto found = book.Find("/f/a.bin");
  ASSERT_TRUE(found);
  ASSERT_TRUE(found->content);
  EXPECT_EQ(found->content->Size(), 5000u);
  EXPECT_EQ(found->status, 206);
  EXPECT_EQ(found->contentLength, 4294967396ull);
  EXPECT_EQ(found->cutAfter, 1000u);
  EXPECT_TRUE(found->cutWithNoise);
  EXPECT_EQ(found->chunkBytes, 512u);
  EXPECT_EQ(found->chunkDelayMs, 20);
  EXPECT_EQ(found->contentType, "image/png");
  EXPECT_FALSE(book.Find("/f/other"));
}

TEST(FileBookTest, FirstRequestsFailThenTheRestAreServed) {
  FileBook book;
  book.Set({{"path", "/f/a"}, {"body", "x"}, {"failFirst", 2}, {"failStatus", 500}});
  EXPECT_TRUE(book.Take("/f/a")->fail);
  EXPECT_TRUE(book.Take("/f/a")->fail);
  EXPECT_FALSE(book.Take("/f/a")->fail);
  EXPECT_FALSE(book.Take("/f/a")->fail);
  EXPECT_EQ(book.Describe()["/f/a"]["requests"], 4);
  // Setting the path again starts counting afresh.
  book.Set({{"path", "/f/a"}, {"body", "x"}, {"failFirst", 1}});
  EXPECT_TRUE(book.Take("/f/a")->fail);
  EXPECT_FALSE(book.Take("/f/a")->fail);
}

TEST(FileBookTest, RemoveAndClearForgetBehaviours) {
  FileBook book;
  book.Set({{"path", "/f/a"}, {"body", "x"}});
  book.Set({{"path", "/f/b"}, {"body", "y"}});
  book.Set({{"path", "/f/a"}, {"remove", true}});
  EXPECT_FALSE(book.Take("/f/a"));
  EXPECT_TRUE(book.Take("/f/b"));
  book.Clear();
  EXPECT_FALSE(book.Take("/f/b"));
  EXPECT_TRUE(book.Describe().empty());
}

TEST(FileBookTest, MalformedRequestsAreRefusedAndChangeNothing) {
  FileBook book;
  book.Set({{"path", "/f/a"}, {"body", "kept"}});
  const std::vector<json> bad = {
      json::array(),
      {{"body", "x"}},
      {{"path", "f/a"}},
      {{"path", "/_test/files"}},
      {{"path", "/f/a?x=1"}},
      {{"path", "/f/a"}, {"body", "x"}, {"size", 3}},
      {{"path", "/f/a"}, {"seed", 3}},
      {{"path", "/f/a"}, {"size", -1}},
      {{"path", "/f/a"}, {"status", 199}},
      {{"path", "/f/a"}, {"status", 600}},
      {{"path", "/f/a"}, {"framing", "gzip"}},
      {{"path", "/f/a"}, {"framing", "chunked"}, {"contentLength", 3}},
      {{"path", "/f/a"}, {"redirect", {{"status", 302}}}},
      {{"path", "/f/a"}, {"redirect", {{"hops", 0}}}},
      {{"path", "/f/a"}, {"redirect", {{"hops", 1}, {"status", 200}}}},
      {{"path", "/f/a"}, {"redirect", {{"hops", 1}, {"scheme", "ftp"}}}},
      {{"path", "/f/a"}, {"redirect", {{"hops", 1}, {"hopz", 1}}}},
      {{"path", "/f/a"}, {"chunkBytes", 0}},
      {{"path", "/f/a"}, {"chunkDelayMs", 60001}},
      {{"path", "/f/a"}, {"bodyBase64", "abc"}},
      {{"path", "/f/a"}, {"cutafter", 3}},
      {{"path", "/f/a"}, {"cutWith", "noise"}},
      {{"path", "/f/a"}, {"cutAfter", 3}, {"cutWith", "abort"}},
  };
  for (const json& request : bad) {
    EXPECT_THROW(book.Set(request), std::invalid_argument) << request;
  }
  auto kept = book.Take("/f/a");
  ASSERT_TRUE(kept);
  EXPECT_EQ(ReadAll(kept->behaviour.content, 16), "kept");
}

TEST(FileBookTest, Base64IsDecodedStrictly) {
  EXPECT_EQ(DecodeBase64(""), "");
  EXPECT_EQ(DecodeBase64("TQ=="), "M");
  EXPECT_EQ(DecodeBase64("TWE="), "Ma");
  EXPECT_EQ(DecodeBase64("TWFu"), "Man");
  EXPECT_EQ(DecodeBase64("AP8A/w=="), std::string("\0\xff\0\xff", 4));
  for (const char* bad : {"TQ", "T===", "TQ=a", "TW=u", "TWFu\n", "TW-u", "=WFu"}) {
    EXPECT_THROW(DecodeBase64(bad), std::invalid_argument) << bad;
  }
}

TEST(FileHostRulesTest, HopLocationsFollowSchemeAndForm) {
  RedirectChain chain;
  chain.hops = 3;
  RequestOrigin secure{true, "127.0.0.4", 443, 80};
  RequestOrigin plain{false, "127.0.0.4", 443, 80};
  RequestOrigin odd{true, "127.0.0.4", 8443, 8080};

  EXPECT_EQ(HopLocation(chain, "/f/a.bin", 1, secure), "https://127.0.0.4/f/a.bin?hop=1");
  EXPECT_EQ(HopLocation(chain, "/f/a.bin", 2, plain), "http://127.0.0.4/f/a.bin?hop=2");
  EXPECT_EQ(HopLocation(chain, "/f/a.bin", 2, odd), "https://127.0.0.4:8443/f/a.bin?hop=2");
  chain.scheme = RedirectScheme::Alternate;
  EXPECT_EQ(HopLocation(chain, "/f/a.bin", 1, secure), "http://127.0.0.4/f/a.bin?hop=1");
  EXPECT_EQ(HopLocation(chain, "/f/a.bin", 1, plain), "https://127.0.0.4/f/a.bin?hop=1");
  EXPECT_EQ(HopLocation(chain, "/f/a.bin", 1, odd), "http://127.0.0.4:8080/f/a.bin?hop=1");
  chain.scheme = RedirectScheme::Http;
  EXPECT_EQ(HopLocation(chain, "/f/a.bin", 3, secure), "http://127.0.0.4/f/a.bin?hop=3");
  chain.relative = true;
  EXPECT_EQ(HopLocation(chain, "/f/d/a.bin", 2, secure), "a.bin?hop=2");
  chain.to = "../elsewhere.bin";
  EXPECT_EQ(HopLocation(chain, "/f/d/a.bin", 2, secure), "a.bin?hop=2");
  EXPECT_EQ(HopLocation(chain, "/f/d/a.bin", 3, secure), "../elsewhere.bin");
}

TEST(FileHostRulesTest, FolderFilesStayInsideTheFolder) {
  testing::TempDir dir;
  testing::WriteFile(dir.path() / "files" / "a.bin", "a");
  testing::WriteFile(dir.path() / "files" / "sub" / "b.bin", "b");
  testing::WriteFile(dir.path() / "secret.txt", "s");
  const auto files = dir.path() / "files";

  EXPECT_EQ(FolderFileFor(files, "/f/a.bin"), files / "a.bin");
  EXPECT_EQ(FolderFileFor(files, "/f/sub/b.bin"), files / "sub" / "b.bin");
  EXPECT_FALSE(FolderFileFor(files, "/f/missing.bin"));
  EXPECT_FALSE(FolderFileFor(files, "/f/sub"));
  EXPECT_FALSE(FolderFileFor(files, "/f/"));
  EXPECT_FALSE(FolderFileFor(files, "/g/a.bin"));
  EXPECT_FALSE(FolderFileFor(files, "/f/../secret.txt"));
  EXPECT_FALSE(FolderFileFor(files, "/f/sub/../../secret.txt"));
  EXPECT_FALSE(FolderFileFor(files, "/f/sub/"));
  EXPECT_FALSE(FolderFileFor(files, "/f/..\\secret.txt"));
}

// Every spelling an attacker might try for a file outside the folder, as the
// path reaches the service (percent escapes already decoded by the listener).
TEST(FileHostRulesTest, NoSpellingReachesAFileOutsideTheFolder) {
  testing::TempDir dir;
  const auto files = dir.path() / "files";
  testing::WriteFile(files / "sub" / "b.bin", "b");
  testing::WriteFile(dir.path() / "secret.txt", "s");
  const std::string secret = (dir.path() / "secret.txt").string();

  const std::vector<std::string> outside = {
      "/f/" + secret,  // leading slash: the absolute path replaces the folder
      "/f//" + secret,
      "/f/" + secret.substr(1),  // relative, but from the folder it names nothing
      "/f/\\" + secret.substr(1),
      "/f/sub\\..\\..\\secret.txt",
      "/f/..",
      "/f/./../secret.txt",
      "/f/sub/./../../secret.txt",
      "/f/sub/b.bin/../../../secret.txt",
      "/f/.../secret.txt",
      "/f/sub/..",
      "/f/" + std::string("sub/b.bin\0", 10),
      "/f/../files/sub/b.bin",  // leads back inside, still refused: no .. at all
  };
  for (const std::string& path : outside) {
    EXPECT_FALSE(FolderFileFor(files, path)) << path;
  }
  EXPECT_EQ(FolderFileFor(files, "/f/sub/b.bin"), files / "sub" / "b.bin");
}

TEST(FileHostRulesTest, SymbolicLinksCountWhereTheyLead) {
  testing::TempDir dir;
  const auto files = dir.path() / "files";
  testing::WriteFile(files / "inside.bin", "i");
  testing::WriteFile(dir.path() / "secret.txt", "s");
  std::filesystem::create_symlink(dir.path() / "secret.txt", files / "leak.bin");
  std::filesystem::create_directory_symlink(dir.path(), files / "up");
  std::filesystem::create_symlink("inside.bin", files / "alias.bin");

  EXPECT_FALSE(FolderFileFor(files, "/f/leak.bin"));
  EXPECT_FALSE(FolderFileFor(files, "/f/up/secret.txt"));
  // A detour that ends inside the folder is the folder's own file.
  EXPECT_EQ(FolderFileFor(files, "/f/up/files/inside.bin"), files / "inside.bin");
  EXPECT_EQ(FolderFileFor(files, "/f/alias.bin"), files / "inside.bin");
}

TEST(FileHostRulesTest, AFolderReachedThroughALinkStillServesItsOwnFiles) {
  testing::TempDir dir;
  testing::WriteFile(dir.path() / "real" / "a.bin", "a");
  std::filesystem::create_directory_symlink(dir.path() / "real", dir.path() / "files");
  EXPECT_EQ(FolderFileFor(dir.path() / "files", "/f/a.bin"), dir.path() / "real" / "a.bin");
}

}  // namespace
}  // namespace ostrel
