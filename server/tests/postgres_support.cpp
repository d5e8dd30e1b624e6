#include "postgres_support.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

namespace ostrel::testing {

namespace {

// Runs one statement as the test cluster's superuser; the error text, empty on success.
std::string Administer(const std::string& sql) {
  std::unique_ptr<PGconn, void (*)(PGconn*)> conn(PQconnectdb(TestPostgres().c_str()), PQfinish);
  if (PQstatus(conn.get()) != CONNECTION_OK) return PQerrorMessage(conn.get());
  std::unique_ptr<PGresult, void (*)(PGresult*)> result(PQexec(conn.get(), sql.c_str()), PQclear);
  return PQresultStatus(result.get()) == PGRES_COMMAND_OK ? std::string() : PQerrorMessage(conn.get());
}

}  // namespace

std::string TestPostgres() {
  if (const char* named = std::getenv("OSTREL_TEST_POSTGRES")) return named;
  return std::string("host=") + OSTREL_TEST_POSTGRES_DIR + "/socket user=ostrel dbname=postgres";
}

PostgresDatabase::PostgresDatabase() {
  static std::atomic<int> made{0};
  name_ = "ostrel_test_" + std::to_string(getpid()) + "_" + std::to_string(made++);
  const std::string error = Administer("CREATE DATABASE " + name_);
  EXPECT_EQ(error, "") << "no PostgreSQL for the test at '" << TestPostgres()
                       << "' (ctest starts one with server/tests/postgres.sh)";
  connection_ = TestPostgres() + " dbname=" + name_;
}

PostgresDatabase::~PostgresDatabase() { Administer("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)"); }

std::string PostgresServer::Start() { return Script("start"); }
void PostgresServer::Stop() { Script("stop"); }
void PostgresServer::Freeze() { Script("freeze"); }
void PostgresServer::Thaw() { Script("thaw"); }

std::string PostgresServer::Script(const std::string& command) {
  const std::string line = std::string("bash '") + OSTREL_POSTGRES_SCRIPT + "' " + command + " '" + dir_.string() + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(line.c_str(), "r"), pclose);
  std::string out;
  char buffer[512];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe.get())) out += buffer;
  const int status = pipe ? pclose(pipe.release()) : -1;
  EXPECT_EQ(status, 0) << line;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

}  // namespace ostrel::testing
