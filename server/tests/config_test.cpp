#include <gtest/gtest.h>

#include "config_service.h"
#include "test_support.h"

namespace ostrel {
namespace {

using nlohmann::json;
using testing::TempDir;
using testing::WriteFile;

std::string RequestWithToken(const json& token) {
  json request = {{"a", "Kelvanor"},  {"i", "Kelvanor_DLM"}, {"l", "en"},           {"o", "10.0.19045"},
                  {"plv", "1.0.0.0"}, {"prv", "0.1"},        {"s", "Kelvanor_3cpp"}};
  if (!token.is_discarded()) request["u"] = token;
  return request.dump();
}

class ConfigChoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(configs_ / "default.json", R"({"which":"default"})");
    WriteFile(configs_ / "ab1-c2d.json", R"({"which":"token"})");
    // Files a crafted token might try to reach.
    WriteFile(dir_.path() / "secret.json", R"({"which":"outside"})");
    WriteFile(configs_ / "sub" / "inner.json", R"({"which":"subfolder"})");
    WriteFile(configs_ / "dot.ted.json", R"({"which":"dotted"})");
    std::filesystem::create_directories(configs_ / "folder.json");
  }

  std::filesystem::path Chosen(const json& token) {
    ConfigChoice choice = ChooseConfig(configs_, RequestWithToken(token));
    EXPECT_EQ(choice.status, 200) << choice.reason;
    return choice.file;
  }

  TempDir dir_;
  std::filesystem::path configs_ = dir_.path() / "configs";
};

TEST_F(ConfigChoiceTest, TokenWithFileSelectsThatFile) {
  EXPECT_EQ(Chosen("ab1-c2d"), configs_ / "ab1-c2d.json");
  EXPECT_EQ(TokenStem(json::parse(RequestWithToken("ab1-c2d"))), "ab1-c2d");
}

TEST_F(ConfigChoiceTest, FallsBackToDefault) {
  const std::vector<std::pair<std::string, json>> cases = {
      {"unknown token", "zz9-zzz"},         {"empty token", ""},     {"token absent", json(json::value_t::discarded)},
      {"token a number", 1234567},          {"token null", nullptr}, {"token an array", json::array({"ab1-c2d"})},
      {"token in another case", "AB1-C2D"},
  };
  for (const auto& [what, token] : cases) {
    EXPECT_EQ(Chosen(token), configs_ / "default.json") << what;
  }
}

TEST_F(ConfigChoiceTest, PathTraversalNeverLeavesTheFolder) {
  const std::vector<std::string> attempts = {
      "../secret",
      "..",
      "../configs/ab1-c2d",
      "sub/inner",
      "sub\\inner",
      "..\\secret",
      "/etc/passwd",
      "%2e%2e%2fsecret",
      "dot.ted",
      "ab1-c2d.json",
      "ab1-c2d ",
      " ab1-c2d",
      "ab1-c2d\n",
      std::string("ab1-c2d\0x", 9),
      "ab1_c2d",
      "ab1-c2d/",
      "./ab1-c2d",
      "ab1-c2d/../ab1-c2d",
  };
  for (const std::string& token : attempts) {
    EXPECT_EQ(TokenStem(json::parse(RequestWithToken(token))), "") << token;
    EXPECT_EQ(Chosen(token), configs_ / "default.json") << token;
  }
  // A well-formed token whose name is taken by a folder is not a configuration.
  EXPECT_EQ(Chosen("folder"), configs_ / "default.json");
}

TEST_F(ConfigChoiceTest, NonObjectRequestIs400) {
  for (const std::string body : {"", "not json", "[]", "\"ab1-c2d\"", "{\"u\":"}) {
    EXPECT_EQ(ChooseConfig(configs_, body).status, 400) << body;
  }
}

TEST_F(ConfigChoiceTest, MissingDefaultIs404ButTokenFilesStillServe) {
  std::filesystem::remove(configs_ / "default.json");
  EXPECT_EQ(ChooseConfig(configs_, RequestWithToken("zz9-zzz")).status, 404);
  EXPECT_EQ(ChooseConfig(configs_, RequestWithToken("")).status, 404);
  ConfigChoice choice = ChooseConfig(configs_, RequestWithToken("ab1-c2d"));
  EXPECT_EQ(choice.status, 200);
  EXPECT_EQ(choice.file, configs_ / "ab1-c2d.json");
}

}  // namespace
}  // namespace ostrel
