#pragma once

#include <filesystem>
#include <string>

namespace ostrel::testing {

// The PostgreSQL the test command runs for these tests (tests/postgres.sh, started
// by the ctest fixture "postgres"), or the one OSTREL_TEST_POSTGRES names: a libpq
// connection string in key=value form for a user who may create databases.
std::string TestPostgres();

// A database of its own on TestPostgres(), dropped with everything in it when the
// object goes. Fails the calling test when it cannot be made: a missing PostgreSQL
// is a failure, never a skip.
class PostgresDatabase {
 public:
  PostgresDatabase();
  ~PostgresDatabase();
  PostgresDatabase(const PostgresDatabase&) = delete;
  PostgresDatabase& operator=(const PostgresDatabase&) = delete;
  const std::string& Connection() const { return connection_; }

 private:
  std::string name_;
  std::string connection_;
};

// A PostgreSQL server of its own in dir (tests/postgres.sh), for a test that stops
// and starts it; stopped when the object goes. Each call fails the test when the
// script does.
class PostgresServer {
 public:
  explicit PostgresServer(std::filesystem::path dir) : dir_(std::move(dir)) {}
  ~PostgresServer() {
    Thaw();
    Stop();
  }
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;
  std::string Start();  // the connection string
  void Stop();
  // Every process of it stops where it stands (SIGSTOP), its connections open, and
  // goes on again on Thaw: a database that has stopped answering.
  void Freeze();
  void Thaw();

 private:
  std::string Script(const std::string& command);
  std::filesystem::path dir_;
};

}  // namespace ostrel::testing
