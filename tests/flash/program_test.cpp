// The flash programming run against qxsimd, on the boarding-pass printer
// (no language monitor, on LPT1:): the port taken and given back on every
// exit, the file name in capitals, the checks of smart mode, and the blocks
// that reach the device. The run's fixed waits are counted, never timed.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "device/flash.h"
#include "port_world.h"

namespace {

using qxtest::json;
using qxtest::kBoarding;

class FlashRun : public qxtest::PortWorld {
 protected:
  // A firmware file of the world's drive C: at C:\FIRMWARE\<name>.
  std::string PutFirmware(const std::string& name, size_t size) {
    std::string bytes;
    for (size_t i = 0; i < size; ++i) bytes += static_cast<char>('a' + i % 26);
    return PutFile(name, bytes);
  }
  std::string PutFile(const std::string& name, const std::string& bytes) {
    const std::string folder = dir() + "/drives/c/FIRMWARE";
    mkdir(folder.c_str(), 0700);
    FILE* f = std::fopen((folder + "/" + name).c_str(), "wb");
    EXPECT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return "C:\\FIRMWARE\\" + name;
  }
  json Device(const std::string& port) {
    for (const json& d : control().Devices()) {
      if (d.value("port", "") == port) return d;
    }
    return json();
  }
  QXRESULT Flash(std::string name, BOOL smart, std::string* version = nullptr, std::string* named = nullptr) {
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    char out[64];
    std::memset(out, '#', sizeof out);
    const QXRESULT r = qxProgramFlash(buffer.data(), smart, out, 20, 1);
    if (version != nullptr) version->assign(out, strnlen(out, 20));
    if (named != nullptr) *named = buffer.data();
    return r;
  }
  std::string Received() { return control().Received("LPT1:", true); }
  // The port is back with the spooler and nothing is left in the record.
  void ExpectPortGivenBack() {
    EXPECT_TRUE(OnFile().empty());
    EXPECT_TRUE(RecordEmpty());
  }
};

TEST_F(FlashRun, NullFileNameTakesNothing) {
  EXPECT_EQ(qxProgramFlash(nullptr, 1, nullptr, 0, 1), QX_ERR_FILE_NOT_FOUND);
  EXPECT_EQ(qxplat_call_count("EnumPrintersA"), 0u);
  EXPECT_EQ(qxplat_call_count("SetPrinterA"), 0u);
}

TEST_F(FlashRun, MissingFileGivesThePortBackAndTheNameComesBackInCapitals) {
  std::string named;
  EXPECT_EQ(Flash("c:\\firmware\\old\\fwvnp4_104.bin", 0, nullptr, &named), QX_ERR_FILE_NOT_FOUND);
  EXPECT_EQ(named, "C:\\FIRMWARE\\OLD\\FWVNP4_104.BIN");
  EXPECT_TRUE(Logged("Bin file not found\r\n"));
  EXPECT_TRUE(Logged("FWVNP4_104.BIN"));  // the base name, between its two lines
  EXPECT_TRUE(Logged("To upper done\r\n"));
  EXPECT_GE(qxplat_call_count("SetPrinterA"), 2u);  // moved to FILE: and back
  ExpectPortGivenBack();
  EXPECT_EQ(Received(), "");
}

TEST_F(FlashRun, BaseNameAfterADriveColonWithoutAFolder) {
  qxplat_debug_capture_clear();
  EXPECT_EQ(Flash("C:FWVNP4_104.BIN", 0), QX_ERR_FILE_NOT_FOUND);
  const auto lines = qxplat::debug_captured();
  bool found = false;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i] == "End file name = ") {
      EXPECT_EQ(lines[i + 1], "FWVNP4_104.BIN");
      found = true;
    }
  }
  EXPECT_TRUE(found);
}

TEST_F(FlashRun, SmartModeSendsNothingToAPrinterNotReadyOrAnUnsuitableFile) {
  const std::string suitable = PutFirmware("FWVNP4_104.BIN", 600);
  control().SetDevice("LPT1:", {{"status_word", 0x8000}});
  EXPECT_EQ(Flash(suitable, 1), QX_ERR_NOT_READY);
  EXPECT_TRUE(Logged("Printer not ready\r\n"));
  ExpectPortGivenBack();
  control().SetDevice("LPT1:", {{"status_word", 0}});

  EXPECT_EQ(Flash(PutFirmware("FWVNQ_112.BIN", 600), 1), QX_ERR_NO_PERMISSION);  // not this model's prefix
  EXPECT_EQ(Flash(PutFirmware("FWVNP4_104.TXT", 600), 1), QX_ERR_BAD_EXTENSION);
  EXPECT_TRUE(Logged("Permission denied for this programming file\r\n"));
  ExpectPortGivenBack();
  // Nothing but status inquiries reached the printer.
  const std::string received = Received();
  EXPECT_EQ(received.find("\x1b*FR"), std::string::npos);
  EXPECT_EQ(received.find('a'), std::string::npos);
}

TEST_F(FlashRun, FileGoesInBlocksAndTheNewVersionComesBack) {
  const std::string file = PutFirmware("FWVNP4_104.BIN", 1030);
  qxplat_call_counts_reset();
  qxplat_sleep_counters_reset();
  std::string version;
  ASSERT_EQ(Flash(file, 0, &version), QX_ERR_OK);
  EXPECT_EQ(version.substr(0, 4), "1.03");  // the printer's version field, then its detail
  EXPECT_NE(version.find("2016-05-17"), std::string::npos);
  size_t letters = 0;
  for (char c : Received()) letters += (c >= 'a' && c <= 'z') ? 1 : 0;
  EXPECT_EQ(letters, 1030u);
  EXPECT_EQ(qxplat_call_count("WriteFile"), 3u + 1u);  // 512 + 512 + 6, then the IC inquiry
  EXPECT_GE(qxplat_sleep_total_ms(), 20000u);
  ExpectPortGivenBack();
}

TEST_F(FlashRun, PrinterWithoutAParseableReplyGetsTheFileTwice) {
  const std::string file = PutFirmware("FWVNP4_104.BIN", 1030);
  control().SetDevice("LPT1:", {{"faults", {"garbled_reply"}}});
  qxplat_sleep_counters_reset();
  std::string version = "untouched";
  EXPECT_EQ(Flash(file, 0, &version), QX_ERR_FLASH_FAILED);
  EXPECT_TRUE(Logged("Flash reprogram failed retrying\r\n"));
  EXPECT_TRUE(Logged("Flash reprogram failed\r\n"));
  size_t letters = 0;
  for (char c : Received()) letters += (c >= 'a' && c <= 'z') ? 1 : 0;
  EXPECT_EQ(letters, 2 * 1030u);
  EXPECT_GE(qxplat_sleep_total_ms(), 2 * 20000u);
  ExpectPortGivenBack();
}

TEST_F(FlashRun, ABlockThatDoesNotArriveEndsThatTransfer) {
  const std::string file = PutFirmware("FWVNP4_104.BIN", 1030);
  control().SetDevice("LPT1:", {{"faults", {"garbled_reply"}}});
  qxplat_fault_arm("WriteFile", 2, ERROR_SEM_TIMEOUT);  // the second block of the first transfer
  EXPECT_EQ(Flash(file, 0), QX_ERR_FLASH_FAILED);
  EXPECT_TRUE(Logged("Write to printer failed\r\n"));
  size_t letters = 0;
  for (char c : Received()) letters += (c >= 'a' && c <= 'z') ? 1 : 0;
  EXPECT_EQ(letters, 512u + 1030u);  // the first transfer stopped, the second whole
  ExpectPortGivenBack();
}

// Smart mode end to end: the printer enters its flash-reprogram mode, takes
// the image, restarts into the image's version, and that version comes back.
TEST_F(FlashRun, SmartModeReprogramsThePrinter) {
  const std::string image = qxsim::BuildFirmwareImage("1.04", "2026-12-08", std::string(1000, 'f'));
  const std::string file = PutFile("FWVNP4_104.BIN", image);
  qxplat_sleep_counters_reset();
  std::string version;
  ASSERT_EQ(Flash(file, 1, &version), QX_ERR_OK);
  EXPECT_EQ(version.substr(0, 4), "1.04");
  EXPECT_NE(version.find("2026-12-08"), std::string::npos);
  EXPECT_TRUE(Logged("\r\nPrinter ENTERED Flash Reprogram mode\r\n"));
  EXPECT_GE(qxplat_sleep_total_ms(), 500u + 500u + 15000u + 20000u);
  const json device = Device("LPT1:");
  EXPECT_EQ(device.value("image_bytes", 0u), image.size()) << device.dump();
  EXPECT_EQ(device.value("firmware", ""), "1.04");
  ExpectPortGivenBack();
}

TEST_F(FlashRun, PrinterRefusingFlashModeGetsNoImage) {
  const std::string file = PutFile("FWVNP4_104.BIN", qxsim::BuildFirmwareImage("1.04", "", "payload"));
  control().SetDevice("LPT1:", {{"faults", {"refuse_flash"}}});
  EXPECT_EQ(Flash(file, 1), QX_ERR_NO_FLASH_MODE);
  EXPECT_TRUE(Logged("\r\nPrinter did not enter Flash Reprogram mode\r\n"));
  EXPECT_EQ(Device("LPT1:").value("image_bytes", 0u), 0u);
  EXPECT_EQ(Received().find("payload"), std::string::npos);
  ExpectPortGivenBack();
}

}  // namespace
