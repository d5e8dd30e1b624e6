#include <gtest/gtest.h>

#include "cli.h"

namespace ostrel {
namespace {

std::vector<std::string> Serve(std::vector<std::string> extra) {
  std::vector<std::string> args = {"serve", "--cert", "c.pem", "--key", "k.pem", "--data", "d"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

TEST(LoopbackAddressTest, OnlyDottedIpv4In127Slash8) {
  for (const std::string a : {"127.0.0.1", "127.0.0.2", "127.255.255.254", "127.1.2.3"}) {
    EXPECT_TRUE(IsLoopbackAddress(a)) << a;
  }
  for (const std::string a : {"0.0.0.0", "10.0.0.1", "128.0.0.1", "126.255.255.255", "192.168.1.1", "::1", "localhost",
                              "127.1", "127.0.0.256", "127.0.0.1 ", "", "127.0.0.1:443"}) {
    EXPECT_FALSE(IsLoopbackAddress(a)) << a;
  }
}

TEST(CommandLineTest, ServeTakesEveryOption) {
  auto command = ParseCommandLine(Serve({"--address", "127.0.0.3", "--port", "8443", "--http-port", "80", "--pid-file",
                                         "p", "--quiet", "--control-token-file", "t"}));
  auto* serve = std::get_if<ServeCommand>(&command);
  ASSERT_TRUE(serve);
  EXPECT_EQ(serve->options.address, "127.0.0.3");
  EXPECT_EQ(serve->options.httpsPort, 8443);
  EXPECT_EQ(serve->options.httpPort, 80);
  EXPECT_EQ(serve->options.certFile, "c.pem");
  EXPECT_EQ(serve->options.keyFile, "k.pem");
  EXPECT_EQ(serve->options.dataDir, "d");
  EXPECT_EQ(serve->pidFile, std::filesystem::path("p"));
  EXPECT_FALSE(serve->options.logRequests);
  EXPECT_EQ(serve->controlTokenFile, std::filesystem::path("t"));
}

TEST(CommandLineTest, ServeDefaultsToHttpsOn443Only) {
  auto command = ParseCommandLine(Serve({"--address", "127.0.0.2"}));
  auto& serve = std::get<ServeCommand>(command);
  EXPECT_EQ(serve.options.httpsPort, 443);
  EXPECT_FALSE(serve.options.httpPort);
  EXPECT_FALSE(serve.pidFile);
  EXPECT_TRUE(serve.options.logRequests);
  // What a distributor runs has no control interface.
  EXPECT_FALSE(serve.controlTokenFile);
  EXPECT_FALSE(serve.options.controlToken);
}

TEST(CommandLineTest, RefusesNonLoopbackAndIncompleteCommands) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      Serve({}),
      Serve({"--address", "0.0.0.0"}),
      Serve({"--address", "10.0.0.5"}),
      Serve({"--address", "::1"}),
      Serve({"--address", "localhost"}),
      Serve({"--address"}),
      Serve({"--address", "127.0.0.2", "--port", "65536"}),
      Serve({"--address", "127.0.0.2", "--port", "-1"}),
      Serve({"--address", "127.0.0.2", "--port", "44x"}),
      Serve({"--address", "127.0.0.2", "--http-port", "443"}),
      Serve({"--address", "127.0.0.2", "--bogus"}),
      Serve({"--address", "127.0.0.2", "--control-token-file"}),
      {"serve", "--address", "127.0.0.2", "--key", "k", "--data", "d"},
      {"serve", "--address", "127.0.0.2", "--cert", "c", "--key", "k"},
      {"report"},
      {"report", "--data", "d", "--extra"},
      {"report", "--data", "d", "--html"},
      {"report", "--data", "d", "--json", "--html", "r.html"},
  };
  for (const auto& args : cases) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_THROW(ParseCommandLine(args), UsageError) << joined;
  }
}

TEST(CommandLineTest, ReportAndHelp) {
  auto report = std::get<ReportCommand>(ParseCommandLine({"report", "--data", "d", "--json"}));
  EXPECT_EQ(report.dataDir, "d");
  EXPECT_TRUE(report.json);
  EXPECT_FALSE(std::get<ReportCommand>(ParseCommandLine({"report", "--data", "d"})).json);
  EXPECT_EQ(std::get<ReportCommand>(ParseCommandLine({"report", "--data", "d", "--html", "r.html"})).html, "r.html");
  EXPECT_TRUE(std::holds_alternative<HelpCommand>(ParseCommandLine({"--help"})));
}

}  // namespace
}  // namespace ostrel
