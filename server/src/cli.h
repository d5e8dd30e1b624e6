#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "server.h"

namespace ostrel {

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct HelpCommand {};

struct ServeCommand {
  ServerOptions options;
  std::optional<std::filesystem::path> pidFile;
  // Turns the /_test/ control interface on; its secret token is written here.
  std::optional<std::filesystem::path> controlTokenFile;
};

struct ReportCommand {
  std::filesystem::path dataDir;
  bool json = false;
  std::optional<std::string> store;  // a libpq connection string instead of DATA/ostrel.db
  // Writes the HTML page there instead of printing the report.
  std::optional<std::filesystem::path> html;
};

struct KeygenCommand {
  std::filesystem::path outDir;
};

using Command = std::variant<HelpCommand, ServeCommand, ReportCommand, KeygenCommand>;

// args: the command line without the program name. Throws UsageError.
Command ParseCommandLine(const std::vector<std::string>& args);
std::string UsageText();

// Prints the report of DATA/ostrel.db or of the PostgreSQL store, or writes its HTML page; returns the process
// exit code.
int RunReport(const ReportCommand& command, std::ostream& out, std::ostream& err);

}  // namespace ostrel
