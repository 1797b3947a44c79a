// The exports the header declares: all 84 of them, functions with C linkage,
// grouped by what they return, none of the library's internal routines, and
// the same names as the text list and the module-definition file.
//
// This program does not link the library, so the exports are named only in
// unevaluated contexts (decltype, sizeof).
#include <qxdll.h>

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "c_probe.h"
#include "export_list.h"

namespace {

// Every listed name is declared, as a function.
#define QX_CHECK_DECLARED(name) \
  static_assert(std::is_function_v<decltype(name)>, #name " is declared as a function");
QX_EXPORT_LIST(QX_CHECK_DECLARED)

#define QX_COUNT(name) +1
static_assert(0 QX_EXPORT_LIST(QX_COUNT) == QX_EXPORT_COUNT, "the list holds 84 exports");

template <class F>
struct ResultOf;
template <class R, class... A>
struct ResultOf<R(A...)> {
  using type = R;
};
// The result type of an export, from its declaration alone.
#define QX_RESULT_TYPE(name) ResultOf<decltype(name)>::type

// Exports that return a 16-bit result code (some of them a Windows error code
// in its place, in the same 16 bits).
#define QX_RESULT_CODE_EXPORTS(X)                                                           \
  X(qxAcquirePort) X(qxEnumBins) X(qxEnumPrinters) X(qxEnumSheetSizes)                     \
  X(qxGetAddStatus_NT_2K_XP) X(qxGetAddStatus) X(qxGetHDC) X(qxGetOSVersion)                \
  X(qxGetPrinterNameAndPort) X(qxGetSpoolingStatus) X(qxGetStatus_NT_2K_XP) X(qxGetStatus) \
  X(qxLMAbortDocument) X(qxLMClearCRCError) X(qxLMGetAddStatus) X(qxLMGetCRCError)          \
  X(qxLMGetHeadLeverOpenStatus) X(qxLMGetJamStatus) X(qxLMGetLMVersion)                     \
  X(qxLMGetLowPaperStatus) X(qxLMGetManDeselectStatus) X(qxLMGetOutOfPaperStatus)           \
  X(qxLMGetPortName) X(qxLMGetPrintInProgress) X(qxLMGetPrinterName)                        \
  X(qxLMGetPrinterOKStatus2) X(qxLMGetPrinterOKStatus) X(qxLMGetProgress) X(qxLMGetStatus)  \
  X(qxLMGetTicketNotTakenStatus) X(qxLMOpenPipe) X(qxLMParseFlashProgress)                  \
  X(qxLMProgramFlash) X(qxLMPtrGetStatus) X(qxLMPtrRFIDPrinter) X(qxLMRFIDPrinter)          \
  X(qxLMRefresh) X(qxLMResetPrinter) X(qxLMSetHeartBeatRate) X(qxLMSetHeartBeat)            \
  X(qxLMSetRegistryKey) X(qxLMSetSpoolerSaveMethod) X(qxLMWDSetup) X(qxMakeDocDC)           \
  X(qxMakeUpperCase) X(qxNewGetDefaultPrinter) X(qxNewGetPrinterDriver)                     \
  X(qxNewGetPrinterPort) X(qxParseStatus) X(qxProgramFlash) X(qxReleasePort)                \
  X(qxSetBinByBinID) X(qxSetBinByBinName) X(qxSetNTPortAscii) X(qxSetNTPort)                \
  X(qxSetOrientation) X(qxSetPrinterKeyByName) X(qxSetSheetSize)

// Exports that return a plain 1/0 flag.
#define QX_FLAG_EXPORTS(X)                                                               \
  X(qxGetDLLVersion) X(qxIsNT) X(qxLMClosePipe) X(qxLMGetDriverVersion) X(qxLMIsPipe)    \
  X(qxLMPtrIsPipe) X(qxLMSetPipeName) X(qxLMSetPipeTimeOut) X(qxLMSetStatusTimeOut)      \
  X(qxPrintBypassClosePrinter) X(qxPrintBypassOpenPrinter) X(qxPrintBypassPrintDocument) \
  X(qxPrintBypassWritePrinter) X(qxPulseCashDrawerGPrinter) X(qxSetNewPrinter)

// Exports that return a Windows value: an address, a handle, a number.
#define QX_VALUE_EXPORTS(X)                                                       \
  X(qxCopyData) X(qxCreateFont) X(qxDeleteObject) X(qxFindMaxFont) X(qxFontFX)    \
  X(qxGetAddressForObject) X(qxGetDefaultPrinter) X(qxGetStringFromLPSTR)         \
  X(qxSelectObject) X(qxSetVB) X(qxTextOut)

#define QX_CHECK_RESULT_CODE(name) \
  static_assert(std::is_same_v<QX_RESULT_TYPE(name), QXRESULT>, #name " returns a QXRESULT");
QX_RESULT_CODE_EXPORTS(QX_CHECK_RESULT_CODE)

#define QX_CHECK_FLAG(name) \
  static_assert(std::is_same_v<QX_RESULT_TYPE(name), BOOL>, #name " returns a BOOL");
QX_FLAG_EXPORTS(QX_CHECK_FLAG)

// A 16-bit result where a wider value is documented (or the reverse) loses
// the upper bits at the call.
#define QX_CHECK_NOT_RESULT_CODE(name) \
  static_assert(!std::is_same_v<QX_RESULT_TYPE(name), QXRESULT>, #name " returns a Windows value");
QX_VALUE_EXPORTS(QX_CHECK_NOT_RESULT_CODE)

// TextOutA's result widened to 64 bits with its sign.
static_assert(sizeof(QX_RESULT_TYPE(qxTextOut)) == 8 && std::is_signed_v<QX_RESULT_TYPE(qxTextOut)>);
// A graphics handle in 32 bits: signed, so that widening it back sign-extends
// as Windows does for handles.
static_assert(sizeof(QX_RESULT_TYPE(qxFindMaxFont)) == 4 && std::is_signed_v<QX_RESULT_TYPE(qxFindMaxFont)>);
// A value's low 32 bits, all of them kept.
static_assert(sizeof(QX_RESULT_TYPE(qxGetAddressForObject)) == 4 &&
              std::is_unsigned_v<QX_RESULT_TYPE(qxGetAddressForObject)>);
// The common-dialog error code, 32 bits as CommDlgExtendedError gives it.
static_assert(sizeof(QX_RESULT_TYPE(qxGetDefaultPrinter)) == 4);
static_assert(std::is_same_v<QX_RESULT_TYPE(qxCreateFont), HFONT>);
static_assert(std::is_same_v<QX_RESULT_TYPE(qxSelectObject), HGDIOBJ>);
static_assert(std::is_same_v<QX_RESULT_TYPE(qxGetStringFromLPSTR), BSTR>);

// The library's internal routines must not be declared. If the header
// declared one, its name would be ambiguous here between the global
// declaration and this namespace's, and the program would not compile.
namespace internal_names {
struct Absent {};
extern Absent qxLMSetGeneric, qxGetModel, qxGetQXPrinter, qxIsolateNTPort, qxRestoreNTPort;
}  // namespace internal_names

}  // namespace

using namespace internal_names;
static_assert(std::is_same_v<decltype(qxLMSetGeneric), internal_names::Absent>);
static_assert(std::is_same_v<decltype(qxGetModel), internal_names::Absent>);
static_assert(std::is_same_v<decltype(qxGetQXPrinter), internal_names::Absent>);
static_assert(std::is_same_v<decltype(qxIsolateNTPort), internal_names::Absent>);
static_assert(std::is_same_v<decltype(qxRestoreNTPort), internal_names::Absent>);

namespace {

#define QX_NAME(name) #name,
const std::vector<std::string> kExports = {QX_EXPORT_LIST(QX_NAME)};
const std::vector<std::string> kResultCodeExports = {QX_RESULT_CODE_EXPORTS(QX_NAME)};
const std::vector<std::string> kFlagExports = {QX_FLAG_EXPORTS(QX_NAME)};
const std::vector<std::string> kValueExports = {QX_VALUE_EXPORTS(QX_NAME)};

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The names under EXPORTS in a module-definition file, in file order.
std::vector<std::string> ReadDefExports(const std::string& path) {
  std::vector<std::string> names;
  bool inExports = false;
  for (std::string line : ReadLines(path)) {
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == ';') continue;
    line = line.substr(first);
    if (line == "EXPORTS") {
      inExports = true;
    } else if (inExports) {
      names.push_back(line.substr(0, line.find_first_of(" \t")));
    }
  }
  return names;
}

TEST(Exports, CDeclaresEveryExport) { EXPECT_EQ(qx_c_declared_exports(), QX_EXPORT_COUNT); }

TEST(Exports, ListHasNoDuplicates) {
  const std::set<std::string> unique(kExports.begin(), kExports.end());
  EXPECT_EQ(unique.size(), kExports.size());
}

// Every export sits in exactly one of the three result groups, so a new
// export cannot skip the result-type checks above.
TEST(Exports, ResultGroupsCoverEveryExportOnce) {
  std::multiset<std::string> grouped;
  for (const auto* group : {&kResultCodeExports, &kFlagExports, &kValueExports}) {
    grouped.insert(group->begin(), group->end());
  }
  for (const std::string& name : kExports) {
    EXPECT_EQ(grouped.count(name), 1u) << name;
  }
  EXPECT_EQ(grouped.size(), kExports.size());
}

// exports_all.txt is the list for tests and tools that read names at run
// time; it must be the compile-time list, in the same order.
TEST(Exports, TextListMatchesTheHeaderList) {
  const std::vector<std::string> listed = ReadLines(QX_HEADER_TEST_DIR "/exports_all.txt");
  ASSERT_FALSE(listed.empty()) << "cannot read exports_all.txt";
  EXPECT_EQ(listed, kExports);
}

// Every name of the module-definition file is declared here.
TEST(Exports, ModuleDefinitionNamesAreDeclared) {
  const std::vector<std::string> def = ReadDefExports(QX_EXPORTS_DEF_PATH);
  if (def.empty()) GTEST_SKIP() << "no exports.def yet";
  const std::set<std::string> declared(kExports.begin(), kExports.end());
  for (const std::string& name : def) EXPECT_EQ(declared.count(name), 1u) << name;
  const std::set<std::string> unique(def.begin(), def.end());
  EXPECT_EQ(unique.size(), def.size()) << "a name is listed twice in exports.def";
}

// Once the module-definition file is complete it names exactly the 84.
TEST(Exports, ModuleDefinitionIsComplete) {
  const std::vector<std::string> def = ReadDefExports(QX_EXPORTS_DEF_PATH);
  if (def.size() < kExports.size()) {
    GTEST_SKIP() << "exports.def lists " << def.size() << " of the " << kExports.size()
                 << " exports so far";
  }
  const std::set<std::string> a(def.begin(), def.end()), b(kExports.begin(), kExports.end());
  EXPECT_EQ(a, b);
}

}  // namespace
