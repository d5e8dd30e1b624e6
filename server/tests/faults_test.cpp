#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "faults.h"

namespace ostrel {
namespace {

using nlohmann::json;

TEST(FaultBookTest, StepsAreUsedUpInOrderThenServiceIsNormal) {
  FaultBook book;
  auto [path, count] = book.Set(
      {{"path", "/o"}, {"statuses", {503, 500, 200}}, {"bodies", {"not json", nullptr, " \r\n\t"}}, {"delayMs", 5}});
  EXPECT_EQ(path, "/o");
  EXPECT_EQ(count, 3u);

  auto first = book.Take("/o");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->status, 503);
  EXPECT_EQ(first->body, "not json");
  EXPECT_EQ(first->delayMs, 5);

  auto second = book.Take("/o");
  ASSERT_TRUE(second);
  EXPECT_EQ(second->status, 500);
  EXPECT_FALSE(second->body.has_value());
  EXPECT_TRUE(second->ReplacesAnswer());

  auto third = book.Take("/o");
  ASSERT_TRUE(third);
  EXPECT_EQ(third->status, 200);
  EXPECT_EQ(third->body, " \r\n\t");

  EXPECT_FALSE(book.Take("/o"));
  EXPECT_FALSE(book.Take("/o"));
  EXPECT_TRUE(book.Pending().empty());
}

TEST(FaultBookTest, PathsHaveSeparateQueues) {
  FaultBook book;
  book.Set({{"path", "/o"}, {"statuses", {503}}});
  book.Set({{"path", "/zbd"}, {"statuses", {500, 401}}});
  EXPECT_FALSE(book.Take("/other"));
  EXPECT_EQ(book.Take("/zbd")->status, 500);
  EXPECT_EQ(book.Take("/o")->status, 503);
  EXPECT_FALSE(book.Take("/o"));
  EXPECT_EQ(book.Take("/zbd")->status, 401);
  EXPECT_FALSE(book.Take("/zbd"));
}

TEST(FaultBookTest, SettingAPathAgainReplacesItsRemainingSteps) {
  FaultBook book;
  book.Set({{"path", "/o"}, {"statuses", {500, 500, 500}}});
  book.Take("/o");
  book.Set({{"path", "/o"}, {"statuses", {302}}, {"bodies", {"{}"}}});
  EXPECT_EQ(book.Take("/o")->status, 302);
  EXPECT_FALSE(book.Take("/o"));

  book.Set({{"path", "/o"}, {"statuses", {500}}});
  book.Set({{"path", "/o"}, {"statuses", json::array()}});  // an empty plan cancels
  EXPECT_FALSE(book.Take("/o"));
}

TEST(FaultBookTest, BodiesWithoutStatusAndDelaysWithoutAnswer) {
  FaultBook book;
  book.Set({{"path", "/o"}, {"bodies", {""}}, {"contentType", "text/plain"}});
  auto empty = book.Take("/o");
  ASSERT_TRUE(empty);
  EXPECT_FALSE(empty->status.has_value());
  EXPECT_EQ(empty->body, "");
  EXPECT_EQ(empty->contentType, "text/plain");
  EXPECT_TRUE(empty->ReplacesAnswer());

  book.Set({{"path", "/zbd"}, {"delayMs", 250}});
  auto delayed = book.Take("/zbd");
  ASSERT_TRUE(delayed);
  EXPECT_EQ(delayed->delayMs, 250);
  EXPECT_FALSE(delayed->ReplacesAnswer());
  EXPECT_FALSE(book.Take("/zbd"));

  book.Set({{"path", "/zbd"}, {"delaysMs", {10, nullptr, 30}}, {"delayMs", 1}, {"count", 4}});
  EXPECT_EQ(book.Take("/zbd")->delayMs, 10);
  EXPECT_EQ(book.Take("/zbd")->delayMs, 1);
  EXPECT_EQ(book.Take("/zbd")->delayMs, 30);
  EXPECT_EQ(book.Take("/zbd")->delayMs, 1);
  EXPECT_FALSE(book.Take("/zbd"));
}

TEST(FaultBookTest, MalformedPlansAreRefusedAndChangeNothing) {
  FaultBook book;
  book.Set({{"path", "/o"}, {"statuses", {503}}});
  const std::vector<std::pair<std::string, json>> cases = {
      {"not an object", json::array()},
      {"no path", {{"statuses", {503}}}},
      {"path not a string", {{"path", 5}}},
      {"relative path", {{"path", "o"}, {"statuses", {503}}}},
      {"control path", {{"path", "/_test/reset"}, {"statuses", {500}}}},
      {"status as text", {{"path", "/o"}, {"statuses", {"503"}}}},
      {"informational status", {{"path", "/o"}, {"statuses", {100}}}},
      {"status too large", {{"path", "/o"}, {"statuses", {600}}}},
      {"statuses not a list", {{"path", "/o"}, {"statuses", 503}}},
      {"body a number", {{"path", "/o"}, {"bodies", {5}}}},
      {"negative delay", {{"path", "/o"}, {"delayMs", -1}}},
      {"fractional delay", {{"path", "/o"}, {"delayMs", 1.5}}},
      {"count below list length", {{"path", "/o"}, {"statuses", {500, 500}}, {"count", 1}}},
      {"too many steps", {{"path", "/o"}, {"count", FaultBook::kMaxSteps + 1}}},
      {"drop as text", {{"path", "/o"}, {"drop", "yes"}}},
      {"drop with an answer", {{"path", "/o"}, {"drop", true}, {"statuses", {500}}}},
  };
  for (const auto& [what, plan] : cases) {
    EXPECT_THROW(book.Set(plan), std::invalid_argument) << what;
  }
  auto step = book.Take("/o");
  ASSERT_TRUE(step);
  EXPECT_EQ(step->status, 503);
  EXPECT_FALSE(book.Take("/o"));
}

TEST(FaultBookTest, ClearDropsEveryPlan) {
  FaultBook book;
  book.Set({{"path", "/o"}, {"statuses", {503}}});
  book.Set({{"path", "/zbd"}, {"statuses", {500}}});
  EXPECT_EQ(book.Pending().size(), 2u);
  book.Clear();
  EXPECT_FALSE(book.Take("/o"));
  EXPECT_FALSE(book.Take("/zbd"));
}

TEST(FaultBookTest, SleepWaitsAndInterruptEndsItEarly) {
  FaultBook book;
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(book.Sleep(60));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));

  std::thread stopper([&book] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    book.Interrupt();
  });
  start = std::chrono::steady_clock::now();
  EXPECT_FALSE(book.Sleep(20000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  stopper.join();
}

}  // namespace
}  // namespace ostrel
