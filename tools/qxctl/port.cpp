// qxctl port-road commands: taking the printer port from the spooler,
// spooled jobs and the printer's spooler port. A command that takes the port
// gives it back before it ends (the library gives it back at unload too),
// and says which queues it moved to "FILE:" meanwhile.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "port_hold.h"

namespace qxctl {
namespace {

constexpr char kFilePort[] = "FILE:";

// The queues on "FILE:" in after that were elsewhere in before.
std::vector<std::string> MovedToFile(const std::map<std::string, std::string>& before,
                                     const std::map<std::string, std::string>& after) {
  std::vector<std::string> moved;
  for (const auto& [name, port] : after) {
    const auto was = before.find(name);
    if (port == kFilePort && was != before.end() && was->second != kFilePort) moved.push_back(name);
  }
  return moved;
}

}  // namespace

std::map<std::string, std::string> SpoolerPorts() {
  std::map<std::string, std::string> ports;
  std::vector<BYTE> buffer;
  LONG count = 0;
  QXRESULT rc = QX_ERR_BUFFER_SMALL;
  for (int attempt = 0; attempt < 3 && rc == QX_ERR_BUFFER_SMALL; ++attempt) {
    DWORD needed = 0;
    count = QX_COUNT_QUERY;
    rc = qxEnumPrinters(nullptr, 0, 2, &needed, &count);
    if (rc != QX_ERR_OK) return ports;
    buffer.assign(needed > 0 ? needed : 1, 0);
    count = 0;
    rc = qxEnumPrinters(buffer.data(), static_cast<LONG>(buffer.size()), 2, &needed, &count);
  }
  if (rc != QX_ERR_OK) return ports;
  const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
  for (LONG i = 0; i < count; ++i) {
    if (info[i].pPrinterName != nullptr) ports[info[i].pPrinterName] = info[i].pPortName ? info[i].pPortName : "";
  }
  return ports;
}

json Names(const std::vector<std::string>& names) {
  json list = json::array();
  for (const std::string& name : names) list.push_back(name);
  return list;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

std::optional<Failure> PortHold::Take(const Context& context) {
  printer_ = CurrentPrinter(context);
  const auto before = SpoolerPorts();
  QXRESULT rc;
  {
    WaitNotice notice("the port of " + OrNone(printer_) + " (the language monitor is asked first)");
    rc = qxAcquirePort(printer_.c_str());
  }
  if (rc != QX_ERR_OK) {
    return LibraryFailure(rc, "cannot take the port of " + OrNone(printer_),
                          rc == QX_ERR_JOBS_PENDING ? "a queue on the port has jobs waiting (qxctl jobs); try "
                                                      "again once they are printed"
                          : rc == QX_ERR_NULL_ARG   ? "no current printer: name one with --printer"
                                                    : "");
  }
  taken_ = true;
  moved_ = MovedToFile(before, SpoolerPorts());
  return std::nullopt;
}

QXRESULT PortHold::Release() {
  if (!taken_) return QX_ERR_OK;
  taken_ = false;
  return qxReleasePort();
}

void TellMoved(const Context& context, const PortHold& hold) {
  if (context.json) return;
  if (hold.moved().empty()) {
    std::fprintf(stderr, "port of %s: no queue moved\n", OrNone(hold.printer()).c_str());
  } else {
    std::fprintf(stderr, "port of %s: moved to FILE: %s (given back at the end)\n", OrNone(hold.printer()).c_str(),
                 Joined(hold.moved()).c_str());
  }
}

int ReleaseFailed(const Context& context, QXRESULT rc) {
  return Fail(context, LibraryFailure(rc, "a queue could not be given its port back",
                                      "qxctl printers shows the ports; qxctl port set-name PORT gives it back"));
}

namespace {

volatile sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) { g_interrupted = 1; }

// Waits until standard input closes or the user interrupts.
void WaitForEndOfInput() {
#ifndef _WIN32
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: the interrupt ends the blocked read
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
#else
  // On Windows Ctrl-C ends the process, and the library gives the port back
  // as it is unloaded.
  signal(SIGINT, OnInterrupt);
#endif
  while (g_interrupted == 0) {
    const int c = std::fgetc(stdin);
    if (c == EOF && (g_interrupted != 0 || !std::ferror(stdin) || errno != EINTR)) break;
    if (c == EOF) std::clearerr(stdin);
  }
}

int Acquire(const Context& context) {
  PortHold hold;
  if (const auto failure = hold.Take(context)) return Fail(context, *failure);
  if (context.json) {
    Emit({{"acquired", hold.printer()}, {"moved", Names(hold.moved())}});
    std::fflush(stdout);
  } else {
    std::printf("holding the port of %s\n", hold.printer().c_str());
    std::printf("moved to FILE:  %s\n", hold.moved().empty() ? "(none)" : Joined(hold.moved()).c_str());
    std::printf("close standard input (Ctrl-D) or interrupt (Ctrl-C) to give it back\n");
    std::fflush(stdout);
  }
  WaitForEndOfInput();
  const auto before = SpoolerPorts();
  const QXRESULT rc = hold.Release();
  std::vector<std::string> restored;
  const auto after = SpoolerPorts();
  for (const std::string& name : hold.moved()) {
    const auto now = after.find(name);
    if (now != after.end() && now->second != kFilePort) restored.push_back(name);
  }
  if (rc != QX_ERR_OK) return ReleaseFailed(context, rc);
  if (context.json) {
    Emit({{"released", hold.printer()}, {"restored", Names(restored)}});
  } else {
    std::printf("gave the port back; restored: %s\n", restored.empty() ? "(none)" : Joined(restored).c_str());
  }
  return kExitDone;
}

int Spooling(const Context& context) {
  BOOL pending = 0;
  const QXRESULT rc = qxGetSpoolingStatus(&pending);
  const std::string printer = CurrentPrinter(context);
  if (rc != QX_ERR_OK) return Fail(context, LibraryFailure(rc, "cannot read the queue of " + OrNone(printer)));
  if (context.json) {
    Emit({{"printer", printer}, {"jobsPending", pending != 0}});
  } else {
    std::printf("%s: %s\n", OrNone(printer).c_str(), pending ? "jobs waiting" : "no jobs waiting");
  }
  return kExitDone;
}

std::string PortOf(const std::string& printer) {
  char port[QX_NAME_SIZE] = {};
  if (printer.empty() || qxNewGetPrinterPort(printer.c_str(), port) != QX_ERR_OK) return "";
  return port;
}

// Reports a port change: the port before and after.
int PortChanged(const Context& context, QXRESULT rc, const std::string& printer, const std::string& was) {
  if (rc != QX_ERR_OK) {
    return Fail(context, rc >= QX_ERR_NO_PRINTER ? LibraryFailure(rc, "cannot change the port of " + OrNone(printer))
                                                 : Failure{kExitRefused, std::nullopt, "WINDOWS_ERROR",
                                                           "the spooler refused to open " + OrNone(printer) +
                                                               " (Windows error " + std::to_string(rc) + ")",
                                                           ""});
  }
  const std::string now = PortOf(printer);
  if (context.json) {
    Emit({{"printer", printer}, {"was", was}, {"port", now}, {"changed", was != now}});
  } else if (was == now) {
    std::printf("%s stays on %s\n", OrNone(printer).c_str(), OrNone(now).c_str());
  } else {
    std::printf("%s: %s -> %s\n", OrNone(printer).c_str(), OrNone(was).c_str(), OrNone(now).c_str());
  }
  return kExitDone;
}

}  // namespace

void AddPortCommands(CLI::App& app, Commands& commands) {
  commands.Add(app, "acquire",
               "Take the current printer's port from the spooler: show the queues moved to FILE:, hold it until "
               "standard input closes or Ctrl-C, then give it back; with --json, two JSON lines",
               Needs::kSpooler, Acquire);
  commands.Add(app, "spooling", "Whether the current printer has jobs waiting", Needs::kSpooler, Spooling);

  CLI::App* port = app.add_subcommand("port", "Change the current printer's spooler port for good");
  port->require_subcommand(1);
  auto number = std::make_shared<long long>(1);
  CLI::App* set =
      commands.Add(*port, "set", "Put it on LPT1:, LPT2: or LPT3: (nothing changes while its language monitor answers)",
                   Needs::kSpooler, [number](const Context& context) {
                     const std::string printer = CurrentPrinter(context);
                     const std::string was = PortOf(printer);
                     return PortChanged(context, qxSetNTPort(static_cast<DWORD>(*number)), printer, was);
                   });
  set->add_option("N", *number, "1, 2 or 3")->required()->check(WholeNumber(1, 3));
  auto name = std::make_shared<std::string>();
  CLI::App* setName = commands.Add(*port, "set-name", "Put it on the named spooler port", Needs::kSpooler,
                                   [name](const Context& context) {
                                     const std::string printer = CurrentPrinter(context);
                                     const std::string was = PortOf(printer);
                                     return PortChanged(context, qxSetNTPortAscii(name->c_str()), printer, was);
                                   });
  setName->add_option("NAME", *name, "a port the spooler has, e.g. LPT2: or FILE:")
      ->required()
      ->check(CLI::Validator([](std::string& text) { return text.empty() ? "the port name is empty" : ""; }, "NAME"));
}

}  // namespace qxctl
