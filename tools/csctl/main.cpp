// csctl: the command-line tool of driver developers, testers and support staff for
// seeing and fixing what the library keeps: store settings, the section map, printer
// identity, the registry store and system information. Built on the public interface.
#include <cslib.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "csctl.h"

namespace {

// The failure message stays one line whatever names it quotes.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "See and fix what the cslib library keeps: store settings, the section map, printers, "
      "the registry store and system information.",
      "csctl"};
  csctl::Global global;
  // Options given before a sub-command also count after it (csctl store get --json ...).
  app.fallthrough();
  app.add_flag("--json", global.json, "Print results as JSON, for scripts");
  app.require_subcommand(1);
  csctl::AddStoreCommand(app, global);
  csctl::AddMapCommand(app, global);
  csctl::AddPrinterCommand(app, global);
  csctl::AddRegCommand(app, global);
  csctl::AddSysinfoCommand(app, global);

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "csctl: " << OneLine(e.what()) << " (see --help)\n";
    return 2;
  } catch (const csctl::UsageError& e) {
    std::cerr << "csctl: " << OneLine(e.what()) << '\n';
    return 2;
  } catch (const csctl::Failure& e) {
    std::cerr << "csctl: " << OneLine(e.what());
    if (e.hasCode()) std::cerr << ": " << e.code() << ' ' << csctl::CodeName(e.code());
    std::cerr << '\n';
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "csctl: " << OneLine(e.what()) << '\n';
    return 1;
  }
  return 0;
}
