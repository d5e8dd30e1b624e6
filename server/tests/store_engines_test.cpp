// The store on both engines: what it keeps, what several servers sharing one store
// see, and (PostgreSQL only) a database that goes away under load.
#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "cli.h"
#include "postgres_support.h"
#include "report.h"
#include "server.h"
#include "store.h"
#include "test_support.h"

namespace ostrel {
namespace {

using nlohmann::json;
using testing::EventEnvelope;
using testing::PostgresDatabase;
using testing::SignatureFor;
using testing::TempDir;
using testing::WizardEvent;
using Clock = std::chrono::steady_clock;

enum class Engine { Sqlite, Postgres };

json EventNumbered(int n) { return WizardEvent({{"5", "OFR-" + std::to_string(n % 7)}, {"38", std::to_string(n)}}); }

std::int64_t Add(Store& store, const json& event) {
  return store.AddEvent(Store::NowUtc(), "zb_analytics", EventEnvelope(event), event);
}

RequestRecord RecordOf(const std::string& path, const std::string& body) {
  RequestRecord r;
  r.receivedAt = Store::NowUtc();
  r.listener = "https";
  r.method = "POST";
  r.path = path;
  r.headers = json::array({json::array({"X-Odd", "caf\xc3\xa9"})});
  r.body = body;
  r.status = 404;
  return r;
}

// Field "38" of every stored event, each as often as it is stored.
std::multiset<std::string> Numbers(const std::vector<StoredEvent>& events) {
  std::multiset<std::string> numbers;
  for (const StoredEvent& e : events) numbers.insert(e.fields.value("38", std::string()));
  return numbers;
}

// Posts one signed event; the status, 0 without an answer.
int Post(httplib::SSLClient& client, const json& event) {
  auto res = client.Post("/zbd", {{"Authorization", SignatureFor(event)}}, EventEnvelope(event), "application/json");
  return res ? res->status : 0;
}

std::unique_ptr<httplib::SSLClient> ClientOf(const std::string& address, int port, const std::filesystem::path& ca) {
  auto client = std::make_unique<httplib::SSLClient>(address, port);
  client->set_ca_cert_path(ca.c_str());
  client->enable_server_certificate_verification(true);
  client->set_read_timeout(10);
  return client;
}

// An HTTPS server at address keeping its events in the PostgreSQL at connection.
ServerOptions ServerOn(const std::string& address, const testing::TestCertificates& certs,
                       const std::filesystem::path& dataDir, const std::string& connection) {
  ServerOptions options;
  options.address = address;
  options.httpsPort = 0;
  options.certFile = certs.cert;
  options.keyFile = certs.key;
  options.dataDir = dataDir;
  options.store = connection;
  options.logRequests = false;
  return options;
}

// Each case gets a store of its own: a fresh data folder, or a fresh database.
class StoreEngineTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    if (GetParam() == Engine::Postgres) database_ = std::make_unique<PostgresDatabase>();
  }
  std::optional<std::string> Postgres() const {
    return database_ ? std::optional<std::string>(database_->Connection()) : std::nullopt;
  }
  std::unique_ptr<Store> Open(Store::Mode mode = Store::Mode::ReadWrite) const {
    return Store::Open(Postgres(), dir_.path(), mode);
  }

  TempDir dir_;
  std::unique_ptr<PostgresDatabase> database_;
};

INSTANTIATE_TEST_SUITE_P(Engines, StoreEngineTest, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const auto& info) { return info.param == Engine::Sqlite ? "Sqlite" : "Postgres"; });

// Bytes from the wire that are no valid text (NUL, a stray 0xff) come back as they
// were where the store keeps bytes, and one such record fails nothing else.
TEST_P(StoreEngineTest, RecordsComeBackAsStoredAndOddBytesFailNothing) {
  auto store = Open();
  const std::string oddPath = std::string("/f/\xff\x00x", 6);
  const std::string oddBody = std::string("a\x00\xff\r\n", 5);
  store->RecordRequest(RecordOf(oddPath, oddBody));
  store->RecordRequest(RecordOf("/o", "{}"));
  const json odd = WizardEvent({{"12", std::string("nul \x00 here", 11)}, {std::string("k\x00", 2), "v"}});
  const std::string oddEnvelope = EventEnvelope(odd) + std::string("\0\xff trailing", 11);
  const std::int64_t first = store->AddEvent(Store::NowUtc(), "zb_analytics", oddEnvelope, odd);
  const std::int64_t second = Add(*store, EventNumbered(2));
  EXPECT_LT(first, second);

  const auto events = store->Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].id, first);
  EXPECT_EQ(events[0].table, "zb_analytics");
  EXPECT_EQ(events[0].rawBody, oddEnvelope);
  EXPECT_EQ(events[0].fields["12"], odd["12"]);
  EXPECT_EQ(events[0].fields["10"], 1);  // numbers stay numbers
  EXPECT_EQ(events[1].fields, EventNumbered(2));
  const auto requests = store->Requests(oddPath);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].body, oddBody);
  EXPECT_EQ(requests[0].headers, RecordOf("/", "").headers);
  EXPECT_EQ(requests[0].status, 404);
  EXPECT_EQ(store->Requests(std::nullopt).size(), 2u);
  store->Clear();
  EXPECT_EQ(store->EventCount(), 0);
  EXPECT_TRUE(store->Requests(std::nullopt).empty());
}

TEST_P(StoreEngineTest, OnlyTheNewestRequestsAreKept) {
  auto store = Open();
  const std::size_t extra = 25;
  for (std::size_t i = 0; i < Store::kMaxRecordedRequests + extra; ++i) {
    store->RecordRequest(RecordOf("/scan", std::to_string(i)));
  }
  const auto kept = store->Requests(std::nullopt);
  ASSERT_EQ(kept.size(), Store::kMaxRecordedRequests);
  EXPECT_EQ(kept.front().body, std::to_string(extra));
  EXPECT_EQ(kept.back().body, std::to_string(Store::kMaxRecordedRequests + extra - 1));
  // Events are never dropped to make room.
  Add(*store, EventNumbered(1));
  EXPECT_EQ(store->EventCount(), 1);
}

TEST_P(StoreEngineTest, ConcurrentWritersLoseNothingAndEachEventIsCommittedWhenAnswered) {
  auto store = Open();
  auto reader = Open(Store::Mode::ReadOnly);  // another connection
  constexpr int kThreads = 8;
  constexpr int kEach = 40;
  std::atomic<int> seenAtOnce{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        store->RecordRequest(RecordOf("/zbd", std::to_string(t) + "/" + std::to_string(i)));
        const std::int64_t id = Add(*store, EventNumbered(t * 1000 + i));
        const auto rows = reader->Select("SELECT COUNT(*) FROM events WHERE id = ?", {std::to_string(id)});
        if (rows.size() == 1 && rows[0][0] == "1") ++seenAtOnce;
      }
    });
  }
  for (auto& w : writers) w.join();
  EXPECT_EQ(seenAtOnce, kThreads * kEach);
  EXPECT_EQ(store->Requests(std::string("/zbd")).size(), static_cast<std::size_t>(kThreads * kEach));
  const auto numbers = Numbers(store->Events());
  EXPECT_EQ(numbers.size(), static_cast<std::size_t>(kThreads * kEach));
  EXPECT_EQ(std::set<std::string>(numbers.begin(), numbers.end()).size(), numbers.size());
}

TEST_P(StoreEngineTest, SelectBindsPlaceholdersAndGivesNullAsNullopt) {
  auto store = Open();
  const std::int64_t id = Add(*store, WizardEvent({{"5", "OFR-?"}, {"13", "it's"}}));
  const auto fields = store->Select(
      "SELECT field, value FROM event_fields WHERE event_id = ? AND field IN (?, ?) AND value <> '?' ORDER BY field",
      {std::to_string(id), "13", "5"});
  const SelectRows expected = {{"13", "it's"}, {"5", "OFR-?"}};
  EXPECT_EQ(fields, expected);
  const auto counts = store->Select("SELECT COUNT(*), MAX(CASE WHEN 1 = 0 THEN 'x' END), '?' FROM events");
  const SelectRows counted = {{"1", std::nullopt, "?"}};
  EXPECT_EQ(counts, counted);
  EXPECT_THROW(store->Select("SELECT nothing FROM nowhere"), std::runtime_error);
}

// The report's GROUP BY queries are written once for both engines: on each they
// count what the SQLite store counts.
TEST_P(StoreEngineTest, TheReportCountsTheSameOnBothEngines) {
  const std::vector<json> events = {
      WizardEvent({{"1", "m1"}, {"2", "s1"}, {"22", ""}, {"6", "1"}, {"10", 1}}),
      WizardEvent({{"1", "m1"}, {"2", "s1"}, {"22", "Kelvanor Pro"}, {"6", "3"}, {"10", 1}}),
      WizardEvent(
          {{"1", "m1"}, {"2", "s1"}, {"22", "Kelvanor Pro"}, {"6", "2"}, {"10", 2}, {"5", "OFR-1"}, {"13", "disk"}}),
      WizardEvent({{"1", "m2"},
                   {"2", "s2"},
                   {"22", "Kelvanor Pro"},
                   {"6", "-1"},
                   {"10", 2},
                   {"5", "OFR-2"},
                   {"12", "<b>failed</b>"}}),
      WizardEvent({{"1", "m3"}, {"2", "s3"}, {"22", ""}, {"6", "1"}, {"10", 1}}),
  };
  auto store = Open();
  TempDir plain;
  Store reference(Store::FileIn(plain.path()));
  // One arrival time for both, so the stored period is the same too.
  const std::string at = "2026-12-10T10:00:00.000Z";
  for (const json& event : events) {
    store->AddEvent(at, "zb_analytics", EventEnvelope(event), event);
    reference.AddEvent(at, "zb_analytics", EventEnvelope(event), event);
  }
  EXPECT_EQ(ReportJson(BuildReport(*store)), ReportJson(BuildReport(reference)));
  EXPECT_EQ(ReportText(BuildReport(*store)), ReportText(BuildReport(reference)));
}

TEST_P(StoreEngineTest, StoresOpenedTogetherCreateTheSchemaOnce) {
  constexpr int kServers = 6;
  std::atomic<int> ready{0};
  std::atomic<int> failed{0};
  std::vector<std::unique_ptr<Store>> stores(kServers);
  std::vector<std::thread> openers;
  for (int i = 0; i < kServers; ++i) {
    openers.emplace_back([&, i] {
      ++ready;
      while (ready < kServers) std::this_thread::yield();
      try {
        stores[i] = Open();
      } catch (const std::exception& e) {
        ++failed;
        ADD_FAILURE() << e.what();
      }
    });
  }
  for (auto& o : openers) o.join();
  ASSERT_EQ(failed, 0);
  for (int i = 0; i < kServers; ++i) Add(*stores[i], EventNumbered(i));
  EXPECT_EQ(Numbers(stores[0]->Events()).size(), static_cast<std::size_t>(kServers));
}

// As a distributor behind a proxy runs them: two servers on their own addresses,
// one store.
TEST_P(StoreEngineTest, TwoServersPostingAtOnceStoreEachEventOnce) {
  TempDir certDir;
  const std::vector<std::string> addresses = {testing::LoopbackAddressFor(61), testing::LoopbackAddressFor(62)};
  const auto certs = testing::MakeCertificates(certDir.path(), addresses);
  std::vector<std::unique_ptr<OstrelServer>> servers;
  for (const std::string& address : addresses) {
    ServerOptions options;
    options.address = address;
    options.httpsPort = 0;
    options.certFile = certs.cert;
    options.keyFile = certs.key;
    options.dataDir = dir_.path();
    options.store = Postgres();
    options.logRequests = false;
    options.controlToken = std::string(64, 'c');
    servers.push_back(std::make_unique<OstrelServer>(options));
    servers.back()->Start();
  }
  constexpr int kClientsEach = 4;
  constexpr int kEventsEach = 30;
  std::atomic<int> answered200{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 2 * kClientsEach; ++c) {
    clients.emplace_back([&, c] {
      const auto& server = *servers[c % 2];
      auto client = ClientOf(addresses[c % 2], server.HttpsPort(), certs.ca);
      for (int i = 0; i < kEventsEach; ++i) {
        if (Post(*client, EventNumbered(c * 1000 + i)) == 200) ++answered200;
      }
    });
  }
  for (auto& c : clients) c.join();
  const int sent = 2 * kClientsEach * kEventsEach;
  EXPECT_EQ(answered200, sent);
  // The test control interface of either server sees them all.
  auto control = ClientOf(addresses[1], servers[1]->HttpsPort(), certs.ca);
  const httplib::Headers token = {{"X-Control-Token", std::string(64, 'c')}};
  auto listed = control->Get("/_test/events", token);
  ASSERT_TRUE(listed && listed->status == 200);
  EXPECT_EQ(json::parse(listed->body).size(), static_cast<std::size_t>(sent));
  servers.clear();  // a request is recorded after its answer: stopping writes the last ones
  auto store = Open(Store::Mode::ReadOnly);
  const auto numbers = Numbers(store->Events());
  EXPECT_EQ(numbers.size(), static_cast<std::size_t>(sent));
  EXPECT_EQ(std::set<std::string>(numbers.begin(), numbers.end()).size(), numbers.size());
  // Both servers' requests are in the one log as well.
  EXPECT_EQ(store->Requests(std::string("/zbd")).size(), static_cast<std::size_t>(sent));
}

TEST(PostgresStoreTest, ConnectionStringPasswordAppearsInNoMessage) {
  const std::string password = "Sekrit-4711";
  const std::vector<std::string> connections = {
      testing::TestPostgres() + " dbname=no_such_database password=" + password,
      "host=/nonexistent/socket user=ostrel password=" + password,
      // Malformed: libpq's own complaint would quote the password.
      "postgresql://ostrel:" + password + "%zz@/ostrel",
  };
  for (const std::string& connection : connections) {
    ReportCommand command;
    command.store = connection;
    std::ostringstream out, err;
    EXPECT_EQ(RunReport(command, out, err), 1) << err.str();
    EXPECT_EQ((out.str() + err.str()).find(password), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("PostgreSQL"), std::string::npos) << err.str();
    try {
      Store::Open(connection, "/nonexistent");
      ADD_FAILURE() << "opened " << connection;
    } catch (const std::exception& e) {
      EXPECT_EQ(std::string(e.what()).find(password), std::string::npos) << e.what();
    }
  }
}

// A server whose store is a PostgreSQL of its own, for cases that stop, start or
// freeze that database.
class PostgresOutage : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string connection = database_.Start();
    ASSERT_FALSE(connection.empty());
    certs_ = testing::MakeCertificates(certDir_.path(), {address_});
    server_ = std::make_unique<OstrelServer>(ServerOn(address_, certs_, dataDir_.path(), connection));
    server_->Start();
  }

  TempDir databaseDir_, certDir_, dataDir_;
  testing::PostgresServer database_{databaseDir_.path()};
  const std::string address_ = testing::LoopbackAddressFor(63);
  testing::TestCertificates certs_;
  std::unique_ptr<OstrelServer> server_;
};

// The database stopped and started while clients post: events are refused with
// 503 meanwhile, the server carries on, and the store holds exactly the events
// answered 200, each once.
TEST_F(PostgresOutage, DatabaseRestartedUnderLoadLosesNoAnsweredEvent) {
  constexpr int kClients = 6;
  std::atomic<bool> stop{false};
  std::atomic<int> refused{0}, otherStatus{0}, answeredSinceRestart{0};
  std::atomic<bool> restarted{false};
  std::vector<std::vector<std::string>> answered(kClients);
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      auto client = ClientOf(address_, server_->HttpsPort(), certs_.ca);
      for (int i = 0; !stop; ++i) {
        const json event = EventNumbered(c * 1000000 + i);
        const int status = Post(*client, event);
        if (status == 200) {
          answered[c].push_back(event["38"].get<std::string>());
          if (restarted) ++answeredSinceRestart;
        } else if (status == 503) {
          ++refused;
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } else {
          ++otherStatus;
        }
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));
  database_.Stop();
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  database_.Start();
  restarted = true;
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (answeredSinceRestart < 50 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  stop = true;
  for (auto& c : clients) c.join();

  EXPECT_GT(refused, 0) << "the outage was not seen";
  EXPECT_GE(answeredSinceRestart, 50) << "the server did not reconnect";
  EXPECT_EQ(otherStatus, 0);
  std::multiset<std::string> expected;
  for (const auto& list : answered) expected.insert(list.begin(), list.end());
  EXPECT_EQ(Numbers(server_->GetStore().Events()), expected);
}

// A database that stops answering with its connections left open (hung, or its
// machine gone from the network): the event waiting on it is refused while the
// wizard still waits for the answer, instead of being held; the server takes
// events again once the database answers, and the refused one was not stored.
TEST_F(PostgresOutage, ADatabaseThatStopsAnsweringGetsItsEventsRefusedNotHeld) {
  auto client = ClientOf(address_, server_->HttpsPort(), certs_.ca);
  client->set_read_timeout(60);
  ASSERT_EQ(Post(*client, EventNumbered(1)), 200);

  database_.Freeze();
  const auto frozenAt = Clock::now();
  EXPECT_EQ(Post(*client, EventNumbered(2)), 503);
  const auto waited = Clock::now() - frozenAt;
  EXPECT_GE(waited, std::chrono::milliseconds(3500)) << "refused before the database had its time";
  // The wizard waits 5 s for an answer: later, it cannot tell whether its event was stored.
  EXPECT_LT(waited, std::chrono::seconds(5));
  database_.Thaw();

  int status = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  for (int n = 3; status != 200 && Clock::now() < deadline; ++n) {
    status = Post(*client, EventNumbered(n));
    if (status != 200) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(status == 200 || status == 503) << status;
  }
  ASSERT_EQ(status, 200) << "the server did not reconnect";
  const std::multiset<std::string> numbers = Numbers(server_->GetStore().Events());
  EXPECT_EQ(numbers.count("1"), 1u);
  EXPECT_EQ(numbers.count("2"), 0u) << "a refused event was stored";
}

}  // namespace
}  // namespace ostrel
