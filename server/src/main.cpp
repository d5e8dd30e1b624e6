#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "cli.h"
#include "config_signing.h"
#include "control_token.h"
#include "server.h"

namespace {

// Appears whole or not at all: a script that waits for the file may read it
// the moment it exists.
void WritePidFile(const std::filesystem::path& file) {
  std::filesystem::path partial = file;
  partial += ".partial";
  {
    std::ofstream out(partial, std::ios::trunc);
    out << getpid() << "\n";
  }
  std::error_code error;
  std::filesystem::rename(partial, file, error);
  if (error) std::cerr << "ostrel-server: cannot write " << file.string() << ": " << error.message() << "\n";
}

int Serve(const ostrel::ServeCommand& command) {
  // Block the stop signals before any thread exists so that every thread inherits
  // the mask and only sigwait below ever sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  ostrel::ServerOptions options = command.options;
  if (command.controlTokenFile) options.controlToken = ostrel::NewControlToken();
  ostrel::OstrelServer server(options);
  try {
    server.Start();
    // Before the pid file: whoever waits for that reads the token next.
    if (command.controlTokenFile) {
      ostrel::WriteControlTokenFile(*command.controlTokenFile, *options.controlToken);
      std::cerr << "ostrel-server: control interface on; its token is in " << command.controlTokenFile->string()
                << "\n";
    }
  } catch (const std::exception& e) {
    std::cerr << "ostrel-server: " << e.what() << "\n";
    return 1;
  }
  auto configs = command.options.dataDir / "configs" / "default.json";
  std::error_code error;
  if (!std::filesystem::is_regular_file(configs, error)) {
    std::cerr << "ostrel-server: warning: " << configs.string() << " missing; POST /o answers 404 without it\n";
  }
  // Written only once the listeners accept connections: a script may wait for it.
  if (command.pidFile) WritePidFile(*command.pidFile);

  int received = 0;
  sigwait(&stopSignals, &received);
  std::cerr << "ostrel-server: " << (received == SIGINT ? "SIGINT" : "SIGTERM") << ", stopping\n";
  server.Stop();
  if (command.pidFile) std::filesystem::remove(*command.pidFile, error);
  if (command.controlTokenFile) std::filesystem::remove(*command.controlTokenFile, error);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  ostrel::Command command;
  try {
    command = ostrel::ParseCommandLine(args);
  } catch (const ostrel::UsageError& e) {
    std::cerr << "ostrel-server: " << e.what() << "\n\n" << ostrel::UsageText();
    return 2;
  }
  if (std::holds_alternative<ostrel::HelpCommand>(command)) {
    std::cout << ostrel::UsageText();
    return 0;
  }
  if (auto* report = std::get_if<ostrel::ReportCommand>(&command)) {
    return ostrel::RunReport(*report, std::cout, std::cerr);
  }
  if (auto* keygen = std::get_if<ostrel::KeygenCommand>(&command)) {
    try {
      const std::string keyId = ostrel::WriteConfigSigningKeys(keygen->outDir);
      std::cout << "key id " << keyId << ": " << (keygen->outDir / "config-signing.key").string()
                << " (keep it secret), " << (keygen->outDir / "config-signing.pub").string() << "\n";
      return 0;
    } catch (const std::exception& e) {
      std::cerr << "ostrel-server: " << e.what() << "\n";
      return 1;
    }
  }
  try {
    return Serve(std::get<ostrel::ServeCommand>(command));
  } catch (const std::exception& e) {
    std::cerr << "ostrel-server: " << e.what() << "\n";
    return 1;
  }
}
