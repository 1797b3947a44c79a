// ports_test.cpp - ports and devices as file handles against qxsimd:
// CreateFileA on "LPT1:", "COM1:" and USB device interface paths, exclusive
// access (another handle, the spooler printing), ReadFile and WriteFile with
// the comm time-outs on the virtual clock, DeviceIoControl's parallel-port
// status byte and IEEE 1284 device ID, the handle accounting and the fault
// points of the new calls. Each result is checked as a conformance test
// does: the last error preset, then the result and the error.
#include <ntddpar.h>
#include <qxplatform.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "sim_fixture.h"
#include "win32_expect.h"

namespace {

using nlohmann::json;

const char kUsbPath1[] = "\\\\?\\usb#vid_1a2b&pid_0038#one#{762bb1c4-5164-11d1-b00b-00c0d1570f9e}";
const char kUsbPath2[] = "\\\\?\\usb#vid_1a2b&pid_0038#two#{762bb1c4-5164-11d1-b00b-00c0d1570f9e}";
const std::string kInquiryIS("\x1b" "IS", 3);

class Ports : public qxsim::SimFixture {
 protected:
  std::string WorldJson() const override {
    return R"({
      "ports": ["LPT1:", "LPT2:", "COM1:", "USB001", "USB002", "FILE:"],
      "printers": [
        {"name": "Kiosk", "port": "LPT1:", "driver": {"name": "K", "path": "C:\\k.dll"}},
        {"name": "Other", "port": "LPT1:", "driver": {"name": "K", "path": "C:\\k.dll"}}
      ],
      "usb_interfaces": [
        {"device_path": "\\\\?\\usb#vid_1a2b&pid_0038#one#{762bb1c4-5164-11d1-b00b-00c0d1570f9e}", "port_name": "USB001"},
        {"device_path": "\\\\?\\usb#vid_1a2b&pid_0038#two#{762bb1c4-5164-11d1-b00b-00c0d1570f9e}", "port_name": "USB002"}
      ],
      "devices": [
        {"port": "LPT1:", "model": "KTP-58", "firmware": "2.07", "temperature": 28},
        {"port": "COM1:", "model": "KTP-58"},
        {"port": "USB002", "model": "ZDA-38", "device_id": "MFG:QX;MDL:ZDA-38;"}
      ]
    })";
  }
  void SetUp() override {
    SimFixture::SetUp();
    devices_before_ = qxplat_live_count(QXPLAT_KIND_DEVICE);
  }
  void TearDown() override {
    qxplat_fault_clear();
    EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_DEVICE), devices_before_) << "a device handle was left open";
    SimFixture::TearDown();
  }

  static HANDLE Open(const char* name, DWORD share = 0, DWORD disposition = OPEN_EXISTING) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, share, nullptr, disposition, 0, nullptr);
  }
  static std::string ReadAll(HANDLE h, DWORD size = 64) {
    std::string buffer(size, '\0');
    DWORD read = kUntouched;
    if (!ReadFile(h, buffer.data(), size, &read, nullptr)) return "<failed>";
    buffer.resize(read);
    return buffer;
  }
  static bool WriteAll(HANDLE h, const std::string& bytes) {
    DWORD written = kUntouched;
    return WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
  }
  static void SetTimeouts(HANDLE h, COMMTIMEOUTS t) { ASSERT_TRUE(SetCommTimeouts(h, &t)); }
  void DeviceState(const char* port, const json& state) const {
    json request = state;
    request["op"] = "device_state";
    request["port"] = port;
    control().Call(request);
  }

  int64_t devices_before_ = 0;
};

TEST_F(Ports, AnOpenPortIsHeldExclusively) {
  HANDLE h = Open("LPT1:");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_DEVICE), devices_before_ + 1);
  // The same port by every name it has, with or without sharing asked.
  EXPECT_OPEN_FAILS(Open("LPT1:"), ERROR_SHARING_VIOLATION);
  EXPECT_OPEN_FAILS(Open("\\\\.\\LPT1"), ERROR_SHARING_VIOLATION);
  EXPECT_OPEN_FAILS(Open("lpt1", FILE_SHARE_READ | FILE_SHARE_WRITE), ERROR_SHARING_VIOLATION);
  const json port = control().Call({{"op", "port"}, {"port", "lpt1:"}});
  ASSERT_EQ(port["holders"].size(), 1u);
  EXPECT_EQ(port["holders"][0]["pid"], getpid());
  ASSERT_TRUE(CloseHandle(h));
  // OPEN_ALWAYS opens a device as OPEN_EXISTING does.
  h = Open("LPT1:", 0, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_TRUE(control().Call({{"op", "port"}, {"port", "LPT1:"}})["holders"].empty());
}

TEST_F(Ports, NamesWithoutAPortAreNotFound) {
  EXPECT_OPEN_FAILS(Open("LPT3:"), ERROR_FILE_NOT_FOUND);
  EXPECT_OPEN_FAILS(Open("COM4:"), ERROR_FILE_NOT_FOUND);
  EXPECT_OPEN_FAILS(Open("\\\\?\\usb#vid_ffff&pid_0000#none#{762bb1c4-5164-11d1-b00b-00c0d1570f9e}"),
                    ERROR_FILE_NOT_FOUND);
  StopWorld();
  EXPECT_OPEN_FAILS(Open("LPT1:"), ERROR_FILE_NOT_FOUND);  // no world: no ports
}

TEST_F(Ports, SharingModesOfUsbInterfaces) {
  const DWORD both = FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE a = Open(kUsbPath2, both);
  ASSERT_NE(a, INVALID_HANDLE_VALUE);
  HANDLE b = Open(kUsbPath2, both);
  ASSERT_NE(b, INVALID_HANDLE_VALUE) << "two opens that share read and write";
  EXPECT_OPEN_FAILS(Open(kUsbPath2, 0), ERROR_SHARING_VIOLATION);
  EXPECT_OPEN_FAILS(Open(kUsbPath2, FILE_SHARE_READ), ERROR_SHARING_VIOLATION);
  HANDLE other = Open(kUsbPath1, 0);
  EXPECT_NE(other, INVALID_HANDLE_VALUE) << "another interface is another port";
  EXPECT_TRUE(CloseHandle(a));
  EXPECT_TRUE(CloseHandle(b));
  EXPECT_TRUE(CloseHandle(other));
}

TEST_F(Ports, TheSpoolerPrintingHoldsThePort) {
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<char*>("Other"), &printer, nullptr));
  DOC_INFO_1A doc{const_cast<LPSTR>("ticket"), nullptr, const_cast<LPSTR>("RAW")};
  ASSERT_NE(StartDocPrinterA(printer, 1, reinterpret_cast<LPBYTE>(&doc)), 0u);
  EXPECT_OPEN_FAILS(Open("LPT1:"), ERROR_SHARING_VIOLATION);
  EXPECT_TRUE(control().Call({{"op", "port"}, {"port", "LPT1:"}})["spooler_printing"].get<bool>());
  ASSERT_TRUE(EndDocPrinter(printer));
  HANDLE h = Open("LPT1:");
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << "the job printed: the port is free";
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_TRUE(ClosePrinter(printer));
}

TEST_F(Ports, JobsWaitWhileAHostHoldsThePort) {
  HANDLE h = Open("LPT1:");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  control().Received("LPT1:", true);
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<char*>("Kiosk"), &printer, nullptr));
  DOC_INFO_1A doc{const_cast<LPSTR>("ticket"), nullptr, const_cast<LPSTR>("RAW")};
  ASSERT_NE(StartDocPrinterA(printer, 1, reinterpret_cast<LPBYTE>(&doc)), 0u);
  DWORD written = 0;
  ASSERT_TRUE(WritePrinter(printer, const_cast<char*>("JOB"), 3, &written));
  ASSERT_TRUE(EndDocPrinter(printer));
  EXPECT_EQ(control().Received("LPT1:"), "") << "the job waits";
  EXPECT_EQ(control().Call({{"op", "port"}, {"port", "LPT1:"}})["waiting_jobs"], 1);
  ASSERT_TRUE(CloseHandle(h));
  EXPECT_EQ(control().Received("LPT1:"), "JOB") << "printed once the handle closed";
  EXPECT_TRUE(control().Jobs("Kiosk").empty());
  EXPECT_TRUE(ClosePrinter(printer));
}

TEST_F(Ports, AnEndedProcessLetsThePortGo) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Holds the port and ends without closing it.
    _exit(Open("LPT1:") == INVALID_HANDLE_VALUE ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // The daemon sees the connection end a moment later; count the tries.
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 200 && h == INVALID_HANDLE_VALUE; ++attempt) {
    h = Open("LPT1:");
    if (h == INVALID_HANDLE_VALUE) usleep(10000);
  }
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Ports, AStatusInquiryIsAnswered) {
  HANDLE h = Open("LPT1:");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(WriteAll(h, "\x1b" "IN"));
  const std::string reply = ReadAll(h);
  ASSERT_EQ(reply.size(), 20u);
  EXPECT_EQ(reply.substr(0, 5), "N0515");
  EXPECT_EQ(reply.substr(5, 4), "2.07");
  EXPECT_EQ(control().Received("LPT1:"), "\x1b" "IN") << "what the port was sent is kept";
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Ports, AReadWithNothingAskedGetsTheStatusReply) {
  HANDLE h = Open("LPT1:");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::string reply = ReadAll(h);
  ASSERT_EQ(reply.size(), 14u) << "automatic status back";
  EXPECT_EQ(reply.substr(0, 3), "S00");
  EXPECT_EQ(static_cast<uint8_t>(reply[4]) & 0x20, 0);
  DeviceState("LPT1:", {{"busy", true}});
  reply = ReadAll(h);
  ASSERT_EQ(reply.size(), 14u);
  EXPECT_EQ(static_cast<uint8_t>(reply[4]), 0x20) << "the busy bit of the status word";
  DeviceState("LPT1:", {{"busy", false}, {"garbled", true}});
  reply = ReadAll(h);
  ASSERT_EQ(reply.size(), 14u);
  EXPECT_EQ(reply[0], static_cast<char>(~'S'));
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Ports, ASilentPrinterTimesOutOnTheVirtualClock) {
  DeviceState("LPT1:", {{"silent", true}});
  HANDLE h = Open("LPT1:");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SetTimeouts(h, {0, 10, 700, 0, 300});
  ULONGLONG start = GetTickCount64();
  char buffer[20];
  DWORD read = kUntouched;
  SetLastError(kUntouched);
  EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(GetLastError(), kUntouched);
  EXPECT_GE(GetTickCount64() - start, 900u) << "10 ms a byte for 20 bytes, and 700";
  // It takes no bytes either: the write fails after its total time-out.
  start = GetTickCount64();
  DWORD written = kUntouched;
  EXPECT_FAILS(WriteFile(h, kInquiryIS.data(), 3, &written, nullptr), ERROR_SEM_TIMEOUT);
  EXPECT_EQ(written, 0u);
  EXPECT_GE(GetTickCount64() - start, 300u);
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Ports, RepliesComeAfterTheReplyDelay) {
  // A day's delay: whatever the machine's speed, the reply is not there yet.
  control().SetDevice("LPT1:", {{"reply_delay_ms", 86400000}});
  HANDLE h = Open("LPT1:");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  // MAXDWORD, 0, 0: at once with what has come, here nothing.
  SetTimeouts(h, {MAXDWORD, 0, 0, 0, 1000});
  ASSERT_TRUE(WriteAll(h, kInquiryIS));
  EXPECT_EQ(ReadAll(h), "");
  EXPECT_TRUE(CloseHandle(h));
  // The interval time-out runs from the first byte, not from the read's start.
  control().SetDevice("LPT1:", {{"reply_delay_ms", 400}});
  h = Open("LPT1:");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SetTimeouts(h, {50, 0, 2000, 0, 1000});
  const ULONGLONG start = GetTickCount64();
  ASSERT_TRUE(WriteAll(h, kInquiryIS));
  const std::string reply = ReadAll(h);
  EXPECT_EQ(reply.size(), 14u);
  EXPECT_GE(GetTickCount64() - start, 400u);
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Ports, CommTimeoutsBelongToPortHandles) {
  HANDLE h = Open("COM1:");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  COMMTIMEOUTS t{};
  ASSERT_TRUE(GetCommTimeouts(h, &t));
  EXPECT_EQ(t.ReadIntervalTimeout, 50u) << "a fresh handle's bounded defaults";
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 5000u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 5000u);
  COMMTIMEOUTS set{1, 2, 3, 4, 2000};
  ASSERT_TRUE(SetCommTimeouts(h, &set));
  ASSERT_TRUE(GetCommTimeouts(h, &t));
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 4u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 2000u);
  EXPECT_FAILS(GetCommTimeouts(h, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(CloseHandle(h));
  // Not a port: what Windows answers for a disk file or a pipe.
  HANDLE pipe = CreateNamedPipeA("\\\\.\\pipe\\ports_test", PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  EXPECT_FAILS(GetCommTimeouts(pipe, &t), ERROR_INVALID_HANDLE);
  EXPECT_FAILS(SetCommTimeouts(pipe, &set), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(CloseHandle(pipe));
  EXPECT_FAILS(GetCommTimeouts(h, &t), ERROR_INVALID_HANDLE);  // closed
}

TEST_F(Ports, TheParallelStatusByte) {
  HANDLE h = Open("LPT1:");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  BYTE out[8];
  std::fill(std::begin(out), std::end(out), 0xBF);
  DWORD returned = kUntouched;
  ASSERT_TRUE(DeviceIoControl(h, IOCTL_PAR_QUERY_INFORMATION, nullptr, 0, out, 8, &returned, nullptr));
  EXPECT_EQ(returned, 1u);
  EXPECT_EQ(out[0], PARALLEL_SELECTED);
  EXPECT_EQ(out[1], 0xBF) << "one byte only";
  DeviceState("LPT1:", {{"busy", true}});
  ASSERT_TRUE(DeviceIoControl(h, IOCTL_PAR_QUERY_INFORMATION, nullptr, 0, out, 8, &returned, nullptr));
  EXPECT_EQ(out[0], PARALLEL_SELECTED | PARALLEL_BUSY);
  control().SetDevice("LPT1:", {{"busy", false}, {"faults", {"paper_out"}}});
  ASSERT_TRUE(DeviceIoControl(h, IOCTL_PAR_QUERY_INFORMATION, nullptr, 0, out, 8, &returned, nullptr));
  EXPECT_EQ(out[0], PARALLEL_BUSY | PARALLEL_PAPER_EMPTY | PARALLEL_OFF_LINE);
  EXPECT_FAILS(DeviceIoControl(h, IOCTL_PAR_QUERY_INFORMATION, nullptr, 0, nullptr, 0, &returned, nullptr),
               ERROR_INSUFFICIENT_BUFFER);
  EXPECT_FAILS(DeviceIoControl(h, 0x00220000, nullptr, 0, out, 8, &returned, nullptr), ERROR_INVALID_FUNCTION);
  EXPECT_FAILS(DeviceIoControl(h, IOCTL_PAR_QUERY_INFORMATION, nullptr, 0, out, 8, nullptr, nullptr),
               ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(CloseHandle(h));
  // A port without a printer: not connected, and busy.
  h = Open("LPT2:");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(DeviceIoControl(h, IOCTL_PAR_QUERY_INFORMATION, nullptr, 0, out, 8, &returned, nullptr));
  EXPECT_EQ(out[0], PARALLEL_NOT_CONNECTED | PARALLEL_BUSY);
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Ports, TheDeviceId) {
  HANDLE h = Open("LPT1:");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  char id[1025];
  DWORD returned = kUntouched;
  ASSERT_TRUE(DeviceIoControl(h, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, 0, id, 1024, &returned, nullptr));
  const std::string expected = "MFG:QX;MDL:KTP-58;CMD:QXPL;CLS:PRINTER;";
  ASSERT_EQ(returned, expected.size()) << "the text without the two length bytes";
  EXPECT_EQ(std::string(id), expected) << "a zero follows when there is room";
  EXPECT_FAILS(DeviceIoControl(h, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, 0, id, 10, &returned, nullptr),
               ERROR_INSUFFICIENT_BUFFER);
  control().SetDevice("LPT1:", {{"device_id", "MODEL:VNP-24"}});
  ASSERT_TRUE(DeviceIoControl(h, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, 0, id, 12, &returned, nullptr));
  EXPECT_EQ(std::string(id, returned), "MODEL:VNP-24") << "exactly the room it needs";
  EXPECT_TRUE(CloseHandle(h));
  // The same controls on a USB printer interface; none on a serial port.
  h = Open(kUsbPath2, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(DeviceIoControl(h, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, 0, id, 1024, &returned, nullptr));
  EXPECT_EQ(std::string(id, returned), "MFG:QX;MDL:ZDA-38;");
  EXPECT_TRUE(CloseHandle(h));
  h = Open("COM1:");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FAILS(DeviceIoControl(h, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, 0, id, 1024, &returned, nullptr),
               ERROR_INVALID_FUNCTION);
  EXPECT_FAILS(DeviceIoControl(h, IOCTL_PAR_QUERY_INFORMATION, nullptr, 0, id, 8, &returned, nullptr),
               ERROR_INVALID_FUNCTION);
  EXPECT_TRUE(CloseHandle(h));
  // A port without a printer has no device ID to give.
  h = Open("LPT2:");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FAILS(DeviceIoControl(h, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, 0, id, 1024, &returned, nullptr),
               ERROR_NOT_READY);
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Ports, FaultPointsOfTheDeviceCalls) {
  ASSERT_EQ(0, qxplat_fault_arm("open", 1, 0));
  EXPECT_OPEN_FAILS(Open("LPT1:"), ERROR_FILE_NOT_FOUND);
  HANDLE h = Open("LPT1:");
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << "the failed open held nothing";
  BYTE out[8];
  DWORD returned = 0;
  COMMTIMEOUTS t{};
  ASSERT_EQ(0, qxplat_fault_arm("DeviceIoControl", 1, 0));
  EXPECT_FAILS(DeviceIoControl(h, IOCTL_PAR_QUERY_INFORMATION, nullptr, 0, out, 8, &returned, nullptr),
               ERROR_GEN_FAILURE);
  ASSERT_EQ(0, qxplat_fault_arm("GetCommTimeouts", 1, 0));
  EXPECT_FAILS(GetCommTimeouts(h, &t), ERROR_INVALID_HANDLE);
  ASSERT_EQ(0, qxplat_fault_arm("SetCommTimeouts", 1, ERROR_ACCESS_DENIED));
  EXPECT_FAILS(SetCommTimeouts(h, &t), ERROR_ACCESS_DENIED);
  EXPECT_EQ(qxplat_fault_fired(), 4u);
  EXPECT_TRUE(CloseHandle(h));
}

}  // namespace
