// port_flash_test.cpp - the emulated printer's flash-reprogram mode on the
// port road and its drawer: the firmware image format and its one
// validator, the device as a plain object on virtual times handed in by the
// test (flash mode entry and refusal, FLASH READY, image bytes, a good image
// and the restart, bad and truncated images, never restarting, drawer
// pulses), then through real port handles against qxsimd on the scaled
// clock as the library's flash run uses them (a handle a block, the Nth
// write failing, the restart read on the virtual clock).
#include <qxplatform.h>
#include <windows.h>
#include <winspool.h>

#include <string>

#include <gtest/gtest.h>

#include "device.h"
#include "flash.h"
#include "sim_fixture.h"

namespace {

using nlohmann::json;
using qxsim::BuildFirmwareImage;
using qxsim::CheckFirmwareImage;
using qxsim::Device;
using qxsim::DeviceEmulator;
using qxsim::FirmwareHeader;
using qxsim::ImageCheck;

const std::string kFlashCommand("\x1b*FR", 4);
const std::string kFlashInquiry("\x1bIA\x0f", 4);
const std::string kIS("\x1bIS", 3);
const std::string kIC("\x1bIC", 3);
const std::string kReady = "A01015FLASH READY";

// A good image of exactly size bytes, header included.
std::string ImageOfSize(size_t size, const std::string& version = "1.31", const std::string& detail = "2024-02-29") {
  const size_t header = BuildFirmwareImage(version, detail, std::string(size, 'x')).size() - size;
  // The length field of a shorter payload may have a digit fewer.
  for (size_t payload = size - header; payload <= size - header + 1; ++payload) {
    std::string bytes(payload, '\0');
    for (size_t i = 0; i < payload; ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    std::string image = BuildFirmwareImage(version, detail, bytes);
    if (image.size() == size) return image;
  }
  return "";
}

Device Ticket() {
  Device d;
  d.model = "VNQ-2003";
  d.device_id = "MFG:QX;MDL:VNQ-2003;";
  d.firmware = "1.08";
  d.version_detail = "2019-01-01";
  d.restart_ms = 10000;
  return d;
}

// The "05" field of an "N" or "C" reply: firmware (5 bytes), detail (10).
std::string VersionOf(const std::string& reply) {
  const size_t at = reply.find("0515");
  return at == std::string::npos ? "" : reply.substr(at + 4, 15);
}

TEST(FirmwareImage, OneValidatorForBothRoads) {
  const std::string good = BuildFirmwareImage("1.31", "2024-02-29", "payload bytes");
  EXPECT_EQ(qxsim::FirmwareChecksum("123456789"), 0xCBF43926u) << "zlib's CRC-32";
  EXPECT_EQ(BuildFirmwareImage("1.31", "2024-02-29", "123456789"),
            "QXFW 1.31 detail=2024-02-29 length=9 sum=cbf43926\r\n123456789");
  FirmwareHeader h;
  ASSERT_EQ(CheckFirmwareImage(good, &h), ImageCheck::kGood);
  EXPECT_EQ(h.version, "1.31");
  EXPECT_EQ(h.detail, "2024-02-29");
  EXPECT_EQ(h.length, 13u);

  std::string corrupt = good;
  corrupt.back() ^= 1;
  EXPECT_EQ(CheckFirmwareImage(corrupt, &h), ImageCheck::kBad) << "a changed byte";
  EXPECT_EQ(CheckFirmwareImage(good.substr(0, good.size() - 1), &h), ImageCheck::kBad) << "truncated";
  EXPECT_EQ(CheckFirmwareImage(good + "x", &h), ImageCheck::kBad) << "overrun";
  EXPECT_EQ(CheckFirmwareImage("QXFW 1.0 length=3\nabc", &h), ImageCheck::kBad) << "a length without a sum";
  EXPECT_EQ(CheckFirmwareImage("QXFW 1.0 length=3 sum=zz\nabc", &h), ImageCheck::kBad);
  EXPECT_EQ(CheckFirmwareImage("QXFW 1.0 length=0 sum=00000000\n", &h), ImageCheck::kBad);
  std::string twice = good;
  twice.insert(twice.find(" sum="), " length=13");
  EXPECT_EQ(CheckFirmwareImage(twice, &h), ImageCheck::kBad) << "a field twice";
  EXPECT_EQ(CheckFirmwareImage("QXFW 1.31 beta\r\nanything", &h), ImageCheck::kUnchecked);
  EXPECT_EQ(h.version, "1.31");
  EXPECT_EQ(CheckFirmwareImage("MZ binary", &h), ImageCheck::kNoHeader);
  EXPECT_EQ(qxsim::FirmwareVersionOf(corrupt), "") << "a bad image names no version";
}

TEST(FirmwareImage, TheMonitorRunFailsABadImage) {
  DeviceEmulator port("USB001");
  port.Attach(Ticket());
  std::string bad = ImageOfSize(1030);
  bad[600] ^= 0x40;
  ASSERT_EQ(port.StartFlash(bad, false, 10, "FW.BIN", 0), "");
  const qxsim::FlashProgress p = port.Progress(1000);
  EXPECT_EQ(p.state, qxsim::FlashProgress::State::kFailed);
  EXPECT_EQ(p.note, "Bad firmware image");
  port.Settle(1000);
  EXPECT_EQ(port.Description()->firmware, "1.08");

  ASSERT_EQ(port.StartFlash(ImageOfSize(1030, "1.40", "2025-01-02"), false, 10, "FW.BIN", 1000), "");
  port.Settle(5000);
  EXPECT_EQ(port.Description()->firmware, "1.40");
  EXPECT_EQ(port.Description()->version_detail, "2025-01-02") << "the image's detail goes in with it";
}

TEST(PortFlash, FlashReadyOnlyAfterTheFlashModeCommand) {
  DeviceEmulator port("LPT1:");
  port.Attach(Ticket());
  EXPECT_EQ(port.Write(kFlashInquiry, 0), 4u);
  EXPECT_EQ(port.Read(64, 0), "") << "an inquiry a printing printer does not know: no answer";
  EXPECT_EQ(port.mode(0), DeviceEmulator::Mode::kPrinting);

  EXPECT_EQ(port.Write(kFlashCommand, 10), 4u);
  EXPECT_EQ(port.mode(10), DeviceEmulator::Mode::kFlash);
  EXPECT_FALSE(port.Busy(10)) << "flash mode takes bytes";
  EXPECT_EQ(port.Write(kIS, 20), 3u);
  EXPECT_FALSE(port.AutoStatus(20)) << "silent to status inquiries";
  EXPECT_EQ(port.Read(64, 20), "");
  EXPECT_FALSE(port.Inquire(kIS, 20).bytes) << "on the monitor's road too";

  EXPECT_EQ(port.Write(kFlashInquiry, 30), 4u);
  port.DropReplies();  // the writing handle closed: the owed reply stays
  EXPECT_TRUE(port.State(30).ready_owed);
  EXPECT_TRUE(port.AutoStatus(40)) << "a read-only read finds it";
  EXPECT_EQ(port.Read(64, 40), kReady);
  EXPECT_FALSE(port.AutoStatus(50)) << "once";
  EXPECT_EQ(port.State(50).image_bytes, 0u) << "inquiries are not image bytes";
}

TEST(PortFlash, ARefusingPrinterStaysPrinting) {
  DeviceEmulator port("LPT1:");
  Device d = Ticket();
  d.faults = {"refuse_flash"};
  port.Attach(d);
  EXPECT_EQ(port.Write(kFlashCommand, 0), 4u) << "taken, ignored";
  EXPECT_EQ(port.mode(0), DeviceEmulator::Mode::kPrinting);
  port.Write(kFlashInquiry, 0);
  EXPECT_EQ(port.Read(64, 0), "");
  port.Write(kIS, 0);
  EXPECT_EQ(port.Read(64, 0).substr(0, 1), "S") << "still answers status";
  EXPECT_EQ(port.Received(false), kFlashCommand + kFlashInquiry + kIS);
}

TEST(PortFlash, AGoodImageRestartsIntoTheNewFirmware) {
  DeviceEmulator port("LPT1:");
  port.Attach(Ticket());
  port.Write(kFlashCommand, 0);
  port.Write(kFlashInquiry, 0);
  const std::string image = ImageOfSize(1030, "1.12", "2024-02-29");
  ASSERT_EQ(image.size(), 1030u);
  EXPECT_EQ(port.Write(image.substr(0, 512), 100), 512u);
  EXPECT_EQ(port.Write(image.substr(512, 512), 200), 512u);
  EXPECT_EQ(port.State(200).image_bytes, 1024u);
  EXPECT_EQ(port.mode(200), DeviceEmulator::Mode::kFlash);
  EXPECT_EQ(port.Write(image.substr(1024), 300), 6u);

  const DeviceEmulator::PortState s = port.State(300);
  EXPECT_EQ(s.image_bytes, 1030u) << "512 + 512 + 6, exactly";
  EXPECT_EQ(s.good_images, 1u);
  EXPECT_EQ(s.mode, DeviceEmulator::Mode::kRestarting);
  EXPECT_EQ(s.restart_until, 10300u);
  EXPECT_FALSE(s.ready_owed) << "the restart forgets the owed reply";
  // Silent and taking nothing for restart_ms.
  EXPECT_TRUE(port.Busy(10299));
  EXPECT_EQ(port.Write(kIC, 10299), 0u);
  EXPECT_FALSE(port.AutoStatus(10299));
  EXPECT_FALSE(port.Inquire(kIC, 10299).bytes);
  EXPECT_EQ(port.StatusByte(10299), 0x48) << "busy, off line";
  EXPECT_EQ(port.StartFlash(image, false, 10, "FW.BIN", 10299), "FLASH BUSY");

  EXPECT_EQ(port.Write(kIC, 10300), 3u);
  EXPECT_EQ(port.mode(10300), DeviceEmulator::Mode::kPrinting);
  EXPECT_EQ(VersionOf(port.Read(64, 10300)), std::string("1.12\0" "2024-02-29", 15));
  EXPECT_EQ(port.Description()->firmware, "1.12");
  EXPECT_EQ(port.State(10300).image_bytes, 1030u) << "the count stays until the next flash mode";
}

TEST(PortFlash, BadImagesLeaveItWaitingForAGoodOne) {
  DeviceEmulator port("LPT1:");
  port.Attach(Ticket());
  port.Write(kFlashCommand, 0);
  const std::string image = ImageOfSize(1030, "1.12");
  std::string corrupt = image;
  corrupt[700] ^= 0x01;
  port.Write(corrupt, 10);
  DeviceEmulator::PortState s = port.State(10);
  EXPECT_EQ(s.mode, DeviceEmulator::Mode::kFlash);
  EXPECT_EQ(s.bad_images, 1u);
  EXPECT_EQ(s.image_bytes, 1030u);
  port.Write(kIC, 20);
  EXPECT_FALSE(port.AutoStatus(20)) << "silent";

  // Truncated, then the whole image again: the first image ends inside the
  // second, fails its check, and the second's header is found again.
  port.Write(image.substr(0, 1000), 30);
  EXPECT_EQ(port.State(30).image_pending, 1000u);
  port.Write(kIC, 40);  // inside an image: image bytes
  EXPECT_EQ(port.State(40).image_pending, 1003u);
  for (size_t at = 0; at < image.size(); at += 512) port.Write(image.substr(at, 512), 50);
  s = port.State(50);
  EXPECT_EQ(s.mode, DeviceEmulator::Mode::kRestarting);
  EXPECT_EQ(s.good_images, 1u);
  EXPECT_EQ(s.bad_images, 2u);
  EXPECT_EQ(s.image_bytes, 1030u + 1000 + 3 + 1030);
  EXPECT_EQ(port.mode(10050), DeviceEmulator::Mode::kPrinting);
  EXPECT_EQ(port.Description()->firmware, "1.12");
}

TEST(PortFlash, AHeaderSplitAcrossWritesIsFound) {
  DeviceEmulator port("LPT1:");
  port.Attach(Ticket());
  port.Write(kFlashCommand, 0);
  const std::string image = ImageOfSize(600, "2.00");
  port.Write("noise QX", 0);
  port.Write(image.substr(2, 10), 0);
  port.Write(image.substr(12), 0);
  EXPECT_EQ(port.mode(0), DeviceEmulator::Mode::kRestarting);
}

TEST(PortFlash, APrinterThatNeverRestartsStaysInFlashMode) {
  DeviceEmulator port("LPT1:");
  Device d = Ticket();
  d.faults = {"never_restart"};
  port.Attach(d);
  port.Write(kFlashCommand, 0);
  const std::string image = ImageOfSize(1030);
  port.Write(image, 10);
  port.Write(image, 20);
  const DeviceEmulator::PortState s = port.State(1000000);
  EXPECT_EQ(s.mode, DeviceEmulator::Mode::kFlash);
  EXPECT_EQ(s.good_images, 2u);
  EXPECT_EQ(s.image_bytes, 2060u);
  port.Write(kIC, 1000000);
  EXPECT_FALSE(port.AutoStatus(1000000));
  EXPECT_EQ(port.Description()->firmware, "1.08");
}

TEST(Drawer, PulsesCountedFromPrintedJobs) {
  DeviceEmulator port("USB001");
  port.Receive(std::string("\x1b" "DR\x02", 4));
  EXPECT_EQ(port.State(0).drawer_pulses, 0u) << "no printer, no drawer";
  port.Attach(Ticket());
  port.Receive(std::string("\x1b" "DR\x02", 4));
  port.Receive(std::string("text\x1b" "DR\x02\x1b" "DR\x02\x1b" "DR\x03\x1b" "D", 19));
  EXPECT_EQ(port.State(0).drawer_pulses, 3u);
  port.Write(std::string("\x1b" "DR\x02", 4), 0);
  EXPECT_EQ(port.State(0).drawer_pulses, 3u) << "only printed jobs pulse it";
}

// ---- Through port handles, on the scaled clock -----------------------------

class PortFlashWorld : public qxsim::SimFixture {
 protected:
  std::string WorldJson() const override {
    return R"({
      "ports": ["LPT1:", "LPT2:"],
      "printers": [{"name": "Kiosk", "port": "LPT2:", "driver": {"name": "K", "path": "C:\\k.dll"}}],
      "devices": [
        {"port": "LPT1:", "model": "VNQ-2003", "firmware": "1.08", "version_detail": "2019-01-01",
         "restart_ms": 20000},
        {"port": "LPT2:", "model": "KTP-58"}
      ]
    })";
  }
  void SetUp() override {
    SimFixture::SetUp();
    devices_before_ = qxplat_live_count(QXPLAT_KIND_DEVICE);
  }
  void TearDown() override {
    EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_DEVICE), devices_before_) << "a device handle was left open";
    SimFixture::TearDown();
  }

  // One write on a handle of its own, as the library's flash port writer
  // does it: a 10000 ms write time-out. The error, 0 on success.
  static DWORD WriteOnce(const std::string& bytes, DWORD* written = nullptr) {
    HANDLE h = CreateFileA("LPT1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    COMMTIMEOUTS t{};
    GetCommTimeouts(h, &t);
    t.WriteTotalTimeoutConstant = 10000;
    SetCommTimeouts(h, &t);
    DWORD n = 0xdeadbeef;
    const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
    const DWORD error = ok ? 0 : GetLastError();
    if (written != nullptr) *written = n;
    CloseHandle(h);
    return error;
  }
  // A status read on a fresh handle: the inquiry written (none when empty),
  // then one read.
  static std::string Status(const std::string& inquiry) {
    HANDLE h = CreateFileA("LPT1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<no port>";
    COMMTIMEOUTS t{50, 0, 2000, 0, 2000};
    SetCommTimeouts(h, &t);
    DWORD n = 0;
    if (!inquiry.empty()) WriteFile(h, inquiry.data(), static_cast<DWORD>(inquiry.size()), &n, nullptr);
    std::string reply(2048, '\0');
    n = 0;
    if (!ReadFile(h, reply.data(), static_cast<DWORD>(reply.size()), &n, nullptr)) n = 0;
    CloseHandle(h);
    reply.resize(n);
    return reply;
  }
  json State() const { return control().Call({{"op", "device_state"}, {"port", "LPT1:"}})["device"]; }

  long devices_before_ = 0;
};

TEST_F(PortFlashWorld, AFlashRunAsTheLibraryMakesIt) {
  EXPECT_EQ(Status(kFlashInquiry).substr(0, 1), "S") << "before the flash-mode command: automatic status only";
  ASSERT_EQ(WriteOnce(kFlashCommand), 0u);
  ASSERT_EQ(WriteOnce(kFlashInquiry), 0u);
  EXPECT_EQ(Status(""), kReady) << "a read-only read on a new handle";
  EXPECT_EQ(State()["flash_mode"], true);

  const std::string image = ImageOfSize(1030, "1.12", "2024-02-29");
  DWORD written = 0;
  ASSERT_EQ(WriteOnce(image.substr(0, 512), &written), 0u);
  EXPECT_EQ(written, 512u);
  ASSERT_EQ(WriteOnce(image.substr(512, 512)), 0u);
  const uint64_t before_last = qxplat_clock_now_ms();
  ASSERT_EQ(WriteOnce(image.substr(1024), &written), 0u);
  const uint64_t after_last = qxplat_clock_now_ms();
  EXPECT_EQ(written, 6u);

  const json s = State();
  EXPECT_EQ(s["image_bytes"], 1030u) << "512 + 512 + 6 on three handles";
  EXPECT_EQ(s["good_images"], 1u);
  EXPECT_EQ(s["flash_mode"], false);
  EXPECT_EQ(s["firmware"], "1.08");
  const uint64_t until = s["restart_until"].get<uint64_t>();
  if (s["mode"] == "restarting") {
    EXPECT_GE(until, before_last + 20000);
    EXPECT_LE(until, after_last + 20000);
  }
  // The library's wait, then its status request.
  const uint64_t now = qxplat_clock_now_ms();
  if (until > now) Sleep(static_cast<DWORD>(until - now));
  EXPECT_EQ(VersionOf(Status(kIC)), std::string("1.12\0" "2024-02-29", 15));
  EXPECT_EQ(State()["mode"], "printing");
  EXPECT_EQ(State()["firmware"], "1.12");
}

TEST_F(PortFlashWorld, TheNthPortWriteTimesOut) {
  control().Call({{"op", "device_state"}, {"port", "LPT1:"}, {"fail_write", 3}});
  ASSERT_EQ(WriteOnce(kFlashCommand), 0u);
  const std::string image = ImageOfSize(1030);
  ASSERT_EQ(WriteOnce(image.substr(0, 512)), 0u);
  const uint64_t start = qxplat_clock_now_ms();
  DWORD written = 0xdeadbeef;
  EXPECT_EQ(WriteOnce(image.substr(512, 512), &written), static_cast<DWORD>(ERROR_SEM_TIMEOUT));
  EXPECT_EQ(written, 0u);
  EXPECT_GE(qxplat_clock_now_ms() - start, 10000u) << "after the write time-out, on the virtual clock";
  ASSERT_EQ(WriteOnce(image.substr(1024)), 0u) << "only the third write fails";
  const json s = State();
  EXPECT_EQ(s["port_writes"], 4u);
  EXPECT_EQ(s["image_bytes"], 518u) << "the block that failed never reached the printer";
  EXPECT_EQ(s["flash_mode"], true) << "an image with a hole is not complete";
  EXPECT_EQ(s["image_pending"], 518u);
}

TEST_F(PortFlashWorld, APrinterThatNeverRestartsIsSilent) {
  control().Call({{"op", "device_state"}, {"port", "LPT1:"}, {"never_restart", true}});
  ASSERT_EQ(WriteOnce(kFlashCommand), 0u);
  const std::string image = ImageOfSize(1030);
  for (int attempt = 0; attempt < 2; ++attempt) {
    for (size_t at = 0; at < image.size(); at += 512) ASSERT_EQ(WriteOnce(image.substr(at, 512)), 0u);
    Sleep(20000);
    EXPECT_EQ(Status(kIC), "") << "attempt " << attempt;
  }
  const json s = State();
  EXPECT_EQ(s["image_bytes"], 2060u);
  EXPECT_EQ(s["mode"], "flash");
  EXPECT_EQ(s["firmware"], "1.08");
}

TEST_F(PortFlashWorld, DrawerPulsesFromARawJob) {
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<char*>("Kiosk"), &printer, nullptr));
  DOC_INFO_1A doc{const_cast<LPSTR>("Cash Drawer Command"), nullptr, const_cast<LPSTR>("RAW")};
  ASSERT_NE(StartDocPrinterA(printer, 1, reinterpret_cast<LPBYTE>(&doc)), 0u);
  DWORD written = 0;
  ASSERT_TRUE(WritePrinter(printer, const_cast<char*>("\x1b" "DR\x02"), 4, &written));
  EXPECT_TRUE(EndDocPrinter(printer));
  EXPECT_TRUE(ClosePrinter(printer));
  const json d = control().Call({{"op", "device_state"}, {"port", "LPT2:"}})["device"];
  EXPECT_EQ(d["drawer_pulses"], 1u);
  EXPECT_EQ(State()["drawer_pulses"], 0u);
}

}  // namespace
