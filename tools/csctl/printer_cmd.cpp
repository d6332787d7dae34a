// csctl printer: one printer as a driver component sees it (its names, store name,
// ports and where output goes), worked out by CSPerPrinter from the name and port given
// or, without a port, the one WIN.INI's devices section records for the printer; and
// the installed printers of a driver and model.
// Describing reads only: the model's file name, which is read through the store and
// would be recorded in the section map, is left out.
#include <cslib.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <optional>

#include "csctl.h"

namespace csctl {
namespace {

struct PrinterOptions {
  std::string name;
  std::optional<std::string> port;
  std::string driver;
  std::string model;
};

// The port text of WIN.INI's [devices] entry for the printer: the value after the
// driver name and its comma. Read from the file's text, as the spooler's own listing is:
// reading it through a store would record the entry in the section map.
std::optional<std::string> DevicesPort(const std::string& printer) {
  IniText win;
  const std::string file = DatabaseFile("WIN.INI");
  if (!win.Load(file)) throw Failure("printer: " + file + " cannot be read");
  const IniText::Section* devices = win.Find("devices");
  const std::string* value = devices ? IniText::Value(*devices, printer) : nullptr;
  if (!value) return std::nullopt;
  const std::size_t comma = value->find(',');
  if (comma == std::string::npos) return std::nullopt;
  return value->substr(comma + 1);
}

// The selector's whole text; nullopt for a value the printer does not have.
std::optional<std::string> Text(CSPerPrinter& printer, CSPerPrinterWellKnown selector,
                                const char* label) {
  const unsigned short length = printer.GetStrLen(selector);
  std::string buffer(static_cast<std::size_t>(length) + 1, '\0');
  const PerPrinterErr r = printer.GetStr(selector, buffer.data(), length);
  if (r == PerPrinterErrNotFound) return std::nullopt;
  if (r != PerPrinterOk) throw Failure::Code(std::string("printer show: ") + label, r);
  return buffer.substr(0, buffer.find('\0'));
}

Json OrNull(const std::optional<std::string>& s) {
  return s ? Json(ToUtf8(*s)) : Json(nullptr);
}

void Show(const Global& g, const PrinterOptions& o) {
  std::string port;
  const char* portFrom = "given";
  if (o.port) {
    port = *o.port;
  } else if (std::optional<std::string> found = DevicesPort(o.name)) {
    port = *found;
    portFrom = "WIN.INI [devices]";
  } else {
    throw Failure::Code("printer show: '" + o.name +
                            "' has no entry in WIN.INI [devices]; give its port with --port",
                        PerPrinterErrNotFound);
  }

  PerPrinterErr result = PerPrinterOk;
  auto printer = std::make_unique<CSPerPrinter>(result, port.c_str(), o.name.c_str());
  if (result != PerPrinterOk)
    throw Failure::Code("printer show: '" + o.name + "' on '" + port + "' is refused", result);

  const std::optional<std::string> name = Text(*printer, CSWKPrinterName, "name");
  const std::optional<std::string> real = Text(*printer, CSWKRealName, "real name");
  const std::optional<std::string> store = Text(*printer, CSWKCISPrinterName, "store name");
  const std::optional<std::string> output = Text(*printer, CSWKOutputPort, "output port");

  std::vector<std::string> ports;
  const unsigned short listLength = printer->GetStrLen(CSWKPortName);
  std::string buffer(static_cast<std::size_t>(listLength) + 2, '\0');
  if (printer->FindFirstPort(buffer.data())) {
    do {
      ports.push_back(buffer.substr(0, buffer.find('\0')));
    } while (printer->FindNextPort(ports.back().c_str(), buffer.data()));
  }
  const bool pooled = printer->IsPrinterPooled() == 1;
  const bool networked = printer->IsNetworked() == 1;
  const bool toFile = printer->IsPrintToFile() == 1;

  if (g.json) {
    Json list = Json::array();
    for (const std::string& p : ports) list.push_back(ToUtf8(p));
    PrintJson(Json{{"name", OrNull(name)},
                   {"port_given", ToUtf8(port)},
                   {"port_from", portFrom},
                   {"real_name", OrNull(real)},
                   {"store_name", OrNull(store)},
                   {"output_port", OrNull(output)},
                   {"ports", std::move(list)},
                   {"pooled", pooled},
                   {"networked", networked},
                   {"print_to_file", toFile}});
    return;
  }
  std::string joined;
  for (const std::string& p : ports) joined += (joined.empty() ? "" : ", ") + p;
  std::cout << "Name:           " << name.value_or("") << '\n'
            << "Real name:      " << real.value_or("") << '\n'
            << "Store name:     " << store.value_or("") << '\n'
            << "Output port:    " << output.value_or("") << '\n'
            << "Ports:          " << joined << "  (" << portFrom << ")\n"
            << "Pooled:         " << (pooled ? "yes" : "no") << '\n'
            << "Networked:      " << (networked ? "yes" : "no") << '\n'
            << "Print to file:  " << (toFile ? "yes" : "no") << '\n';
}

void List(const Global& g, const PrinterOptions& o) {
  CISStringList names;
  CISStringList ports;
  const PerPrinterErr r =
      CSGetAllFriendlyNamesAndPorts(o.model.c_str(), o.driver.c_str(), &names, &ports);
  if (r != PerPrinterOk) throw Failure::Code("printer list", r);
  Json printers = Json::array();
  const unsigned count = names.Count();
  for (unsigned i = 1; i <= count; ++i) {
    const char* name = names.Find(static_cast<unsigned char>(i));
    const char* port = ports.Find(static_cast<unsigned char>(i));
    if (!name) break;
    printers.push_back(Json{{"name", ToUtf8(name)}, {"ports", ToUtf8(port ? port : "")}});
    if (!g.json) std::cout << name << "  (" << (port ? port : "") << ")\n";
  }
  if (g.json) {
    PrintJson(Json{{"driver", ToUtf8(o.driver)},
                   {"model", ToUtf8(o.model)},
                   {"printers", std::move(printers)}});
  } else if (count == 0) {
    std::cout << "No printer in WIN.INI [devices] uses driver '" << o.driver << "' with model '"
              << o.model << "'.\n";
  }
}

}  // namespace

void AddPrinterCommand(CLI::App& app, Global& global) {
  auto o = std::make_shared<PrinterOptions>();
  CLI::App* printer = app.add_subcommand("printer", "Describe printers as the drivers see them");
  printer->require_subcommand(1);

  CLI::App* show = printer->add_subcommand("show", "Describe one printer from its name and port");
  show->add_option("name", o->name, "The printer's name")->required();
  show->add_option("--port", o->port,
                   "Port or pooled port list (default: the printer's WIN.INI [devices] entry)");
  show->callback([&global, o] { Show(global, *o); });

  CLI::App* list = printer->add_subcommand(
      "list", "List the installed printers (WIN.INI [devices]) of a driver and model");
  list->add_option("--driver", o->driver, "Driver name, as [devices] gives it")->required();
  list->add_option("--model", o->model, "Model name, as the spooler gives it")->required();
  list->callback([&global, o] { List(global, *o); });
}

}  // namespace csctl
