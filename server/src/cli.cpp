#include "cli.h"

#include <charconv>
#include <fstream>
#include <system_error>

#include "report.h"
#include "report_html.h"
#include "store.h"

namespace ostrel {

namespace {

int ParsePort(const std::string& option, const std::string& text) {
  int port = -1;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (error != std::errc() || end != text.data() + text.size() || port < 0 || port > 65535) {
    throw UsageError(option + " needs a port number from 0 to 65535, not '" + text + "'");
  }
  return port;
}

class ArgReader {
 public:
  explicit ArgReader(const std::vector<std::string>& args) : args_(args) {}
  bool Done() const { return at_ >= args_.size(); }
  const std::string& Next() { return args_[at_++]; }
  const std::string& Value(const std::string& option) {
    if (Done()) throw UsageError(option + " needs a value");
    return Next();
  }

 private:
  const std::vector<std::string>& args_;
  std::size_t at_ = 0;
};

ServeCommand ParseServe(ArgReader& reader) {
  ServeCommand command;
  ServerOptions& o = command.options;
  bool haveAddress = false;
  while (!reader.Done()) {
    const std::string& option = reader.Next();
    if (option == "--address") {
      o.address = reader.Value(option);
      haveAddress = true;
    } else if (option == "--cert") {
      o.certFile = reader.Value(option);
    } else if (option == "--key") {
      o.keyFile = reader.Value(option);
    } else if (option == "--data") {
      o.dataDir = reader.Value(option);
    } else if (option == "--store") {
      o.store = reader.Value(option);
    } else if (option == "--port") {
      o.httpsPort = ParsePort(option, reader.Value(option));
    } else if (option == "--http-port") {
      o.httpPort = ParsePort(option, reader.Value(option));
    } else if (option == "--pid-file") {
      command.pidFile = reader.Value(option);
    } else if (option == "--control-token-file") {
      command.controlTokenFile = reader.Value(option);
    } else if (option == "--quiet") {
      o.logRequests = false;
    } else if (option == "--signing-key") {
      o.signingKey = reader.Value(option);
    } else {
      throw UsageError("serve: unknown option '" + option + "'");
    }
  }
  if (!haveAddress) throw UsageError("serve needs --address");
  if (!IsLoopbackAddress(o.address)) {
    throw UsageError("--address must be an IPv4 address in 127.0.0.0/8, not '" + o.address + "'");
  }
  if (o.certFile.empty() || o.keyFile.empty()) throw UsageError("serve needs --cert and --key");
  if (o.dataDir.empty()) throw UsageError("serve needs --data");
  if (o.httpPort && o.httpsPort != 0 && *o.httpPort == o.httpsPort) {
    throw UsageError("--http-port must differ from the HTTPS port");
  }
  return command;
}

ReportCommand ParseReport(ArgReader& reader) {
  ReportCommand command;
  while (!reader.Done()) {
    const std::string& option = reader.Next();
    if (option == "--data") {
      command.dataDir = reader.Value(option);
    } else if (option == "--store") {
      command.store = reader.Value(option);
    } else if (option == "--json") {
      command.json = true;
    } else if (option == "--html") {
      command.html = reader.Value(option);
    } else {
      throw UsageError("report: unknown option '" + option + "'");
    }
  }
  if (command.dataDir.empty() && !command.store) throw UsageError("report needs --data or --store");
  if (command.json && command.html) throw UsageError("report takes --json or --html, not both");
  return command;
}

KeygenCommand ParseKeygen(ArgReader& reader) {
  KeygenCommand command;
  while (!reader.Done()) {
    const std::string& option = reader.Next();
    if (option == "--out") {
      command.outDir = reader.Value(option);
    } else {
      throw UsageError("keygen: unknown option '" + option + "'");
    }
  }
  if (command.outDir.empty()) throw UsageError("keygen needs --out");
  return command;
}

// Written beside its place and renamed, so a browser never opens half a page.
void WritePage(const std::filesystem::path& file, const std::string& page) {
  std::filesystem::path partial = file;
  partial += ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << page;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + partial.string());
  }
  std::filesystem::rename(partial, file);
}

}  // namespace

Command ParseCommandLine(const std::vector<std::string>& args) {
  if (args.empty()) throw UsageError("no command given");
  ArgReader reader(args);
  const std::string& command = reader.Next();
  if (command == "-h" || command == "--help" || command == "help") return HelpCommand{};
  if (command == "serve") return ParseServe(reader);
  if (command == "report") return ParseReport(reader);
  if (command == "keygen") return ParseKeygen(reader);
  throw UsageError("unknown command '" + command + "'");
}

std::string UsageText() {
  return "usage:\n"
         "  ostrel-server serve --address 127.0.0.N --cert FILE --key FILE --data DIR\n"
         "                      [--port 443] [--http-port PORT] [--pid-file FILE] [--quiet]\n"
         "                      [--control-token-file FILE] [--store postgresql://...]\n"
         "                      [--signing-key FILE]\n"
         "      Serves POST /o (configurations from DIR/configs/), POST /zbd (analytics)\n"
         "      and GET /f/... (files from DIR/files/) over HTTPS on the loopback address;\n"
         "      --http-port adds a plain HTTP listener. --port 0 picks a free port.\n"
         "      Records requests and events in DIR/ostrel.db, or with --store (a libpq\n"
         "      connection string) in that PostgreSQL database, which several servers may\n"
         "      share. Stops on SIGINT/SIGTERM.\n"
         "      --control-token-file turns on the /_test/ control interface for tests\n"
         "      and writes the secret token its requests must carry to FILE.\n"
         "      --signing-key signs every configuration answer with that P-256 key\n"
         "      (X-Ostrel-Signature; see server/README.md).\n"
         "  ostrel-server keygen --out DIR\n"
         "      Writes a new configuration signing key pair: DIR/config-signing.key\n"
         "      (private, mode 0600) and DIR/config-signing.pub (for the wizard's build).\n"
         "  ostrel-server report (--data DIR | --store postgresql://...) [--json | --html FILE]\n"
         "      Prints the analytics events of DIR/ostrel.db or of the PostgreSQL store per\n"
         "      wizard, product and offer as tables; --json for programs; --html writes a\n"
         "      self-contained page to FILE.\n";
}

int RunReport(const ReportCommand& command, std::ostream& out, std::ostream& err) {
  auto file = Store::FileIn(command.dataDir);
  std::error_code error;
  if (!command.store && !std::filesystem::is_regular_file(file, error)) {
    err << "ostrel-server: no event data in " << command.dataDir.string() << " (" << file.string() << " missing)\n";
    return 1;
  }
  try {
    auto store = Store::Open(command.store, command.dataDir, Store::Mode::ReadOnly);
    const Report report = BuildReport(*store);
    if (command.html) {
      WritePage(*command.html, ReportHtml(report));
    } else if (command.json) {
      out << ReportJson(report).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    } else {
      out << ReportText(report);
    }
  } catch (const std::exception& e) {
    err << "ostrel-server: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace ostrel
