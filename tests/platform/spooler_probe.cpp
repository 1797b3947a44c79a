// spooler_probe.cpp - a second host process for the spooler tests: it asks
// the spooler of the world in QX_SIM_DIR what a host sees and prints it.
//
//   spooler_probe enum          one line per printer: name|port|status|jobs
//   spooler_probe open NAME     open the printer and exit without closing it
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "enum") == 0) {
    DWORD needed = 0, count = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed);
    if (!EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &count)) {
      std::printf("error %u\n", static_cast<unsigned>(GetLastError()));
      return 1;
    }
    const auto* printers = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
      std::printf("%s|%s|%u|%u\n", printers[i].pPrinterName, printers[i].pPortName,
                  static_cast<unsigned>(printers[i].Status), static_cast<unsigned>(printers[i].cJobs));
    }
    return 0;
  }
  if (argc >= 3 && std::strcmp(argv[1], "open") == 0) {
    HANDLE printer = nullptr;
    if (!OpenPrinterA(argv[2], &printer, nullptr)) {
      std::printf("error %u\n", static_cast<unsigned>(GetLastError()));
      return 1;
    }
    std::printf("opened\n");
    return 0;  // the handle is left for the spooler to clean up
  }
  std::fprintf(stderr, "usage: spooler_probe enum | open NAME\n");
  return 2;
}
