// Raw status reads against the printer emulator behind the port: the two
// roads, the attempts and their waits counted on the virtual clock, the busy
// checks, 95/98/Me, the USB device opener, the model read, and every handle,
// key, set and module released on every path.
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "fault_sweep.h"
#include "port/port.h"
#include "port_world.h"

namespace {

using qx::g_state;
using qxtest::json;
using qxtest::kBoarding;
using qxtest::kTicket;

constexpr LONG kSize = 64;

class RawStatus : public qxtest::PortWorld {
 protected:
  // Takes the boarding-pass printer's port, so its queue sits on "FILE:".
  void Take() {
    ASSERT_EQ(qxAcquirePort(kBoarding), QX_ERR_OK);
    qxplat_debug_capture_clear();
    qxplat_call_counts_reset();
    qxplat_sleep_counters_reset();
  }
  void SetDevice(const json& changes) { control().SetDevice("LPT1:", changes); }
  static uint64_t Calls(const char* function) { return qxplat_call_count(function); }

  BYTE reply[kSize];
  DWORD read = 0;
};

TEST_F(RawStatus, ArgumentsAreCheckedBeforeThePort) {
  Take();
  for (auto call : {qxGetStatus, qxGetStatus_NT_2K_XP}) {
    EXPECT_EQ(call(0, nullptr, kSize, &read), QX_ERR_NULL_ARG);
    EXPECT_EQ(call(0, reply, kSize, nullptr), QX_ERR_NULL_ARG);
    EXPECT_EQ(call(0, reply, 0, &read), QX_ERR_BAD_ARG);
    EXPECT_EQ(call(0, reply, -5, &read), QX_ERR_BAD_ARG);
    // The port has rows -1 and 0 to 6 only.
    EXPECT_EQ(call(7, reply, kSize, &read), QX_ERR_BAD_ARG);
    EXPECT_EQ(call(-2, reply, kSize, &read), QX_ERR_BAD_ARG);
  }
  for (auto call : {qxGetAddStatus, qxGetAddStatus_NT_2K_XP}) {
    EXPECT_EQ(call(nullptr, reply, kSize, &read), QX_ERR_NULL_ARG);
    EXPECT_EQ(call("\x1bIS", reply, 0, &read), QX_ERR_BAD_ARG);
  }
  EXPECT_EQ(Calls("CreateFileA"), 0u);
}

// The monitor answers: the reads go through it, every failure is FAILED.
TEST_F(RawStatus, PipeRoad) {
  MakeCurrent(kTicket);
  ASSERT_EQ(g_state.lmAvailable, 1);
  control().MonitorRequests("USB001", true);
  BYTE big[1024];
  ASSERT_EQ(qxGetStatus(-1, big, sizeof big, &read), QX_ERR_OK);  // -1 goes to the monitor as 0
  EXPECT_EQ(big[0], 'S');
  read = 0;
  ASSERT_EQ(qxGetStatus(7, big, sizeof big, &read), QX_ERR_OK);  // 7 goes unchanged
  const std::vector<std::string> requests = control().MonitorRequests("USB001", true);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].find("\x1bIS"), std::string::npos);
  EXPECT_EQ(requests[1], std::string("\x03\0\0\0\0\0\x03", 7));
  control().ScriptMonitor("USB001", {{"reply_code", 'O'}, {"times", 1}});
  read = 0;
  EXPECT_EQ(qxGetAddStatus("\x1bIS", big, sizeof big, &read), QX_ERR_FAILED);
  EXPECT_EQ(Calls("CreateFileA"), 3u);  // three pipe opens, no port
}

TEST_F(RawStatus, TwoRoadReadThroughTheTakenPort) {
  Take();
  std::memset(reply, 0, sizeof reply);
  ASSERT_EQ(qxGetStatus(QX_REQ_IS, reply, kSize, &read), QX_ERR_OK);
  ASSERT_GE(read, 5u);
  EXPECT_EQ(reply[0], 'S');
  for (LONG i = static_cast<LONG>(read); i < kSize; ++i) {
    if (reply[i] != 0xFF) {
      ADD_FAILURE() << "byte " << i << " is not the fill";
    }
  }
  QX_STATUS_RECORD record;
  ASSERT_EQ(qxParseStatus(reply, kSize, &record), QX_ERR_OK);
  EXPECT_EQ(record.temperatureC, 31);
  EXPECT_EQ(record.formLength, 440);
  EXPECT_TRUE(Logged("\nDLL Getting status other than NT5.0 USB - FILE:"));
  EXPECT_TRUE(Logged("\nDLL Port used to read = LPT1:\r\n"));
  EXPECT_TRUE(Logged("\nDLL Setting timeouts for LPTx port, NT"));
  EXPECT_TRUE(Logged("\nDLL port is NOT busy"));
  EXPECT_TRUE(Logged("\nDLL Writing to port"));
  EXPECT_EQ(qxplat_sleep_total_ms(), 200u);
  EXPECT_EQ(Calls("CreateFileA"), 1u);
  // A change of the device shows in the next read.
  SetDevice({{"faults", {"paper_out"}}});
  read = 0;
  ASSERT_EQ(qxGetStatus(QX_REQ_IS, reply, kSize, &read), QX_ERR_OK);
  ASSERT_EQ(qxParseStatus(reply, kSize, &record), QX_ERR_OK);
  EXPECT_EQ(record.statusWord, 0x8100);
}

// A silent printer: three attempts 5000 ms apart, then the fallback read on
// the current port; all counted on the virtual clock. Its port reports it
// busy, so nothing is sent.
TEST_F(RawStatus, SilentPrinterGetsThreeAttemptsAndAFallback) {
  Take();
  SetDevice({{"faults", {"not_responding"}}});
  const uint64_t start = qxplat_clock_now_ms();
  EXPECT_EQ(qxGetStatus(QX_REQ_IS, reply, kSize, &read), QX_ERR_FAILED);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(Calls("CreateFileA"), 4u);
  EXPECT_EQ(Calls("ReadFile"), 4u);
  EXPECT_EQ(Calls("WriteFile"), 0u);
  EXPECT_TRUE(Logged("\nDLL port is BUSY"));
  EXPECT_EQ(qxplat_sleep_calls(), 3u);
  EXPECT_EQ(qxplat_sleep_total_ms(), 3 * 5000u);
  // The three waits passed on the virtual clock (the reads' own time-outs
  // come on top; how much depends on the machine's load, so it is not asserted).
  EXPECT_GE(qxplat_clock_now_ms() - start, 15000u);
  // Nothing came: the status byte, then the fill.
  EXPECT_EQ(reply[1], 0xFF);
}

// Read-only: nothing sent, no fallback.
TEST_F(RawStatus, ReadOnlyNeverFallsBack) {
  Take();
  SetDevice({{"faults", {"not_responding"}}});
  EXPECT_EQ(qxGetStatus(QX_REQ_NONE, reply, kSize, &read), QX_ERR_FAILED);
  EXPECT_EQ(Calls("WriteFile"), 0u);
  EXPECT_EQ(Calls("CreateFileA"), 3u);
}

// While the spooler holds the port nothing is opened or created there: the
// fallback reads the spooler's own port at once.
TEST_F(RawStatus, PortNotTakenOpensNothingAndWaitsNot) {
  EXPECT_EQ(qxGetStatus(QX_REQ_IS, reply, kSize, &read), QX_ERR_OK);  // the fallback's read
  EXPECT_TRUE(Logged("\nDLL Port used to read = FILE\r\n"));
  EXPECT_EQ(Calls("CreateFileA"), 1u);
  EXPECT_EQ(Calls("WriteFile"), 0u);
  EXPECT_EQ(qxplat_sleep_calls(), 0u);
  qxplat_debug_capture_clear();
  EXPECT_EQ(qxGetStatus_NT_2K_XP(QX_REQ_IS, reply, kSize, &read), QX_ERR_NO_RESPONSE);
  EXPECT_EQ(qxplat::debug_captured(),
            (std::vector<std::string>{"qxGetStatus_NT_2K_XP\r\n", "\nDLL Port used to read = FILE\r\n",
                                      "Printer not responding\r\n"}));
}

TEST_F(RawStatus, BusyPortGetsNoRequestButIsRead) {
  Take();
  SetDevice({{"busy", true}});
  ASSERT_EQ(qxGetStatus(QX_REQ_IN, reply, kSize, &read), QX_ERR_OK);
  EXPECT_TRUE(Logged("\nDLL port is BUSY"));
  EXPECT_EQ(Calls("WriteFile"), 0u);
  EXPECT_EQ(reply[0], 'S');  // the printer's own status, not the "N" asked for
}

TEST_F(RawStatus, DirectReadAnswersABusyPrinterWithItsFirstReply) {
  Take();
  SetDevice({{"busy", true}});
  ASSERT_EQ(qxGetStatus_NT_2K_XP(QX_REQ_IN, reply, kSize, &read), QX_ERR_OK);
  EXPECT_EQ(reply[0], 'S');
  EXPECT_NE(reply[4] & 0x20, 0);
  EXPECT_TRUE(Logged("DLL port is BUSY\r\n"));
  EXPECT_EQ(Calls("WriteFile"), 0u);
  EXPECT_EQ(Calls("ReadFile"), 1u);
}

TEST_F(RawStatus, DirectReadOfAReadyPrinter) {
  Take();
  ASSERT_EQ(qxGetStatus_NT_2K_XP(QX_REQ_IN, reply, kSize, &read), QX_ERR_OK);
  EXPECT_EQ(reply[0], 'N');
  EXPECT_EQ(Calls("WriteFile"), 1u);
  EXPECT_EQ(Calls("ReadFile"), 2u);
  EXPECT_EQ(qxplat_sleep_total_ms(), 30u);
  EXPECT_TRUE(Logged("\nDLL First read passed\r\n"));
  EXPECT_TRUE(Logged("\nDLL Read success\r\n"));
  // Read-only: one read, nothing sent.
  qxplat_call_counts_reset();
  ASSERT_EQ(qxGetStatus_NT_2K_XP(QX_REQ_NONE, reply, kSize, &read), QX_ERR_OK);
  EXPECT_EQ(Calls("WriteFile"), 0u);
  EXPECT_EQ(Calls("ReadFile"), 1u);
  // A silent printer fails the busy check's read.
  SetDevice({{"faults", {"not_responding"}}});
  EXPECT_EQ(qxGetStatus_NT_2K_XP(QX_REQ_IS, reply, kSize, &read), QX_ERR_NO_RESPONSE);
  EXPECT_TRUE(Logged("Printer not responding\r\n"));
}

// A reply longer than the buffer is cut to it: nothing past replyLength.
TEST_F(RawStatus, ReadsStayWithinTheBuffer) {
  Take();
  BYTE guarded[16];
  std::memset(guarded, 0xAA, sizeof guarded);
  ASSERT_EQ(qxGetStatus(QX_REQ_IN, guarded, 4, &read), QX_ERR_OK);
  EXPECT_EQ(read, 4u);
  for (size_t i = 4; i < sizeof guarded; ++i) EXPECT_EQ(guarded[i], 0xAA) << i;
  std::memset(guarded, 0xAA, sizeof guarded);
  ASSERT_EQ(qxGetStatus_NT_2K_XP(QX_REQ_IN, guarded, 2, &read), QX_ERR_OK);
  for (size_t i = 2; i < sizeof guarded; ++i) EXPECT_EQ(guarded[i], 0xAA) << i;
}

// 95/98/Me: no port status query, one attempt, the 95 time-outs.
TEST_F(RawStatus, Platform9xMakesOneAttemptWithoutTheQuery) {
  qxplat_set_os_version(4, 10, 2222, 1, " A ");
  Detach();
  Attach();
  MakeCurrent(kBoarding);
  ASSERT_EQ(qxSetNTPortAscii("FILE:"), QX_ERR_OK);  // acquisition moves nothing here
  SetDevice({{"faults", {"not_responding"}}});
  qxplat_call_counts_reset();
  EXPECT_EQ(qxGetStatus(QX_REQ_IS, reply, kSize, &read), QX_ERR_FAILED);
  EXPECT_EQ(Calls("DeviceIoControl"), 0u);
  EXPECT_EQ(Calls("CreateFileA"), 2u);  // one attempt and the fallback
  EXPECT_EQ(qxplat_sleep_total_ms(), 200u);
  EXPECT_TRUE(Logged("\nDLL Setting timeouts for LPTx port, 95,98 or Me"));
  EXPECT_EQ(reply[0], 0xBF);
  ASSERT_EQ(qxSetNTPortAscii("LPT1:"), QX_ERR_OK);
  qxplat_reset_os_version();
}

// USB printers: the device opener finds the interface by its "PortName".
class UsbStatus : public qxtest::PortWorld {
 protected:
  std::string WorldJson() const override {
    return qxtest::SharedLptWorld([](json& w) {
      qxtest::PrinterIn(w, kTicket)["driver"]["language_monitor"] = nullptr;
      w["ports"].push_back({{"name", "USB002"}, {"description", "Virtual printer port for USB"}});
      // The wanted interface is the second one listed.
      json other = json::object();
      other["device_path"] = "\\\\?\\usb#vid_1a2b&pid_0038#other#{762bb1c4-5164-11d1-b00b-00c0d1570f9e}";
      other["port_name"] = "USB002";
      w["usb_interfaces"].insert(w["usb_interfaces"].begin(), other);
      json device = json::object();
      device["port"] = "USB002";
      device["model"] = "ZDA-38";
      device["device_id"] = "MDL:OTHER;";
      device["temperature"] = 99;
      w["devices"].push_back(device);
    });
  }
  void SetUp() override {
    PortWorld::SetUp();
    MakeCurrent(kTicket);
  }
  BYTE reply[kSize];
  DWORD read = 0;
};

TEST_F(UsbStatus, SecondInterfaceIsOpenedOnEveryAttempt) {
  QX_STATUS_RECORD record;
  ASSERT_EQ(qxGetStatus(QX_REQ_IS, reply, kSize, &read), QX_ERR_OK);
  ASSERT_EQ(qxParseStatus(reply, kSize, &record), QX_ERR_OK);
  EXPECT_EQ(record.temperatureC, 25);  // USB001's printer, not USB002's
  EXPECT_TRUE(Logged("\nDLL Getting USB status NT 5.0"));
  EXPECT_EQ(qxplat_call_count("SetCommTimeouts"), 0u);
  char model[1025];
  ASSERT_EQ(qx::qxGetModel(model, sizeof model, 0), 1);
  EXPECT_STREQ(model, "ZDA-38");
}

TEST_F(UsbStatus, BeforeWindows2000AUsbNameIsAPlainPort) {
  qxplat_set_os_version(4, 0, 1381, 2, "");
  Detach();
  Attach();
  MakeCurrent(kTicket);
  // Not a device name: the fallback's open on "USB001" fails, and creates nothing.
  EXPECT_EQ(qxGetStatus(QX_REQ_IS, reply, kSize, &read), QX_ERR_FAILED);
  EXPECT_FALSE(Logged("\nDLL Getting USB status NT 5.0"));
  qxplat_reset_os_version();
}

TEST_F(UsbStatus, EverythingOpenedIsReleasedOnEveryPath) {
  const std::set<QXRESULT> allowed = {QX_ERR_OK, QX_ERR_FAILED, QX_ERR_PORT_OPEN};
  qxtest::SweepEveryClass<QXRESULT>("qxGetStatus over USB",
                                    [this] {
                                      read = 0;
                                      return qxGetStatus(QX_REQ_IS, reply, kSize, &read);
                                    },
                                    allowed, {"open", "alloc"});
  for (const char* call : {"SetupDiGetClassDevsA", "SetupDiEnumDeviceInterfaces", "SetupDiGetDeviceInterfaceDetailA",
                           "SetupDiOpenDevRegKey", "RegQueryValueExA", "UuidFromStringA", "GetProcAddress"}) {
    SCOPED_TRACE(call);
    const qxplat::LiveCounts before;
    qxplat_fault_arm(call, 1, 0);
    read = 0;
    const QXRESULT rc = qxGetStatus(QX_REQ_IS, reply, kSize, &read);
    EXPECT_TRUE(allowed.count(rc) != 0) << rc;
    qxplat_fault_clear();
    EXPECT_EQ(before.Leaks(), "");
  }
}

class ModelRead : public RawStatus {};

TEST_F(ModelRead, ModelOfTheTakenPort) {
  Take();
  char model[1025];
  ASSERT_EQ(qx::qxGetModel(model, sizeof model, 0), 1);
  EXPECT_STREQ(model, "VNP-24");                  // "MODEL:" only
  EXPECT_TRUE(qxplat::debug_captured().empty());  // no line without logEnable
  SetDevice({{"device_id", "MFG:QX;MDL:ZDA-24;MODEL:Boarding;"}});
  qxplat_debug_capture_clear();
  ASSERT_EQ(qx::qxGetModel(model, sizeof model, 1), 1);
  EXPECT_STREQ(model, "ZDA-24");
  EXPECT_TRUE(Logged("QX GET MODEL\r\n"));
  EXPECT_TRUE(Logged("MFG:QX;MDL:ZDA-24;MODEL:Boarding;"));
  EXPECT_TRUE(Logged("qxGetModel - Model Name = ZDA-24\r\n"));
  SetDevice({{"device_id", "MFG:QX;CMD:QXPL;"}});
  std::strcpy(model, "kept");
  EXPECT_EQ(qx::qxGetModel(model, sizeof model, 1), 0);
  EXPECT_STREQ(model, "kept");
  EXPECT_TRUE(Logged("Did not find model number identifier\r\n"));
}

TEST_F(ModelRead, ReleasesEverythingOnEveryPath) {
  Take();
  char model[1025];
  qxtest::SweepEveryClass<BOOL>("qxGetModel", [&] { return qx::qxGetModel(model, sizeof model, 0); }, {0, 1}, {"open"});
  qxplat_fault_arm("DeviceIoControl", 1, 0);
  EXPECT_EQ(qx::qxGetModel(model, sizeof model, 1), 0);
  qxplat_fault_clear();
  EXPECT_TRUE(Logged("Bad PNP String\r\n"));
}

}  // namespace
