// device_test.cpp - the device emulator of a port as a plain object: what is
// attached, the replies and their delays, what the port received (bounded),
// the port road's bytes in and replies out, the busy bit, the device ID, the
// flash run with its restart into the new firmware; and the bay of a world's
// devices. Times are virtual milliseconds handed in by the test.
#include "bay.h"
#include "device.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using qxsim::Device;
using qxsim::DeviceEmulator;
using qxsim::FlashProgress;

const std::string kIS("\x1bIS", 3);

Device Ticket() {
  Device d;
  d.model = "ZDA-38";
  d.device_id = "MFG:QX;MDL:ZDA-38;CLS:PRINTER;";
  d.firmware = "1.24";
  d.version_detail = "2018-10-23";
  return d;
}

TEST(Device, APortWithoutAPrinter) {
  DeviceEmulator port("LPT1:");
  EXPECT_FALSE(port.attached());
  EXPECT_FALSE(port.Description().has_value());
  EXPECT_FALSE(port.Inquire(kIS).bytes.has_value());
  EXPECT_FALSE(port.Rfid("x").bytes.has_value());
  EXPECT_EQ(port.DeviceId(), "");
  EXPECT_TRUE(port.Busy(0)) << "no printer takes no bytes";
  EXPECT_EQ(port.StartFlash("image", false, 10, "FW.BIN", 0), "NO PRINTER");
  port.Receive("still kept");
  EXPECT_EQ(port.Received(false), "still kept");
}

TEST(Device, AttachedPrinterAnswersAfterItsDelay) {
  DeviceEmulator port("USB001");
  Device d = Ticket();
  d.port = "elsewhere";
  d.reply_delay_ms = 250;
  port.Attach(d);
  ASSERT_TRUE(port.attached());
  EXPECT_EQ(port.Description()->port, "USB001") << "a device is on its emulator's port";
  const DeviceEmulator::Answer a = port.Inquire(kIS);
  ASSERT_TRUE(a.bytes.has_value());
  EXPECT_EQ(*a.bytes, std::string("S00\x00\x00" "03025" "04\x00\x00", 14));
  EXPECT_EQ(a.delay_ms, 250u);
  EXPECT_FALSE(port.Inquire("nonsense").bytes.has_value()) << "an inquiry it does not know";
  EXPECT_EQ(*port.Rfid("tag").bytes, "tag");
  EXPECT_EQ(port.DeviceId(), "MFG:QX;MDL:ZDA-38;CLS:PRINTER;");
  port.Detach();
  EXPECT_FALSE(port.attached());
}

TEST(Device, FaultsShowInRepliesAndTheBusyBit) {
  DeviceEmulator port("USB001");
  Device d = Ticket();
  port.Attach(d);
  EXPECT_FALSE(port.Busy(0));
  d.faults = {"low_paper"};
  port.Attach(d);
  EXPECT_FALSE(port.Busy(0)) << "low paper still prints";
  EXPECT_TRUE(port.HasFault("low_paper"));
  d.faults = {"paper_out"};
  port.Attach(d);
  EXPECT_TRUE(port.Busy(0));
  d.faults = {"not_responding"};
  port.Attach(d);
  EXPECT_TRUE(port.Busy(0));
  EXPECT_FALSE(port.Inquire(kIS).bytes.has_value());
  d.faults = {"garbled_reply"};
  port.Attach(d);
  EXPECT_NE(port.Inquire(kIS).bytes->at(0), 'S');
}

TEST(Device, ReceivedBytesKeepTheLatestAndClear) {
  DeviceEmulator port("FILE:");
  port.Receive("abc");
  port.Receive("def");
  EXPECT_EQ(port.received_size(), 6u);
  EXPECT_EQ(port.Received(true), "abcdef");
  EXPECT_EQ(port.Received(false), "");
  port.Receive(std::string(DeviceEmulator::kMaxReceived, 'x'));
  port.Receive("tail");
  const std::string kept = port.Received(false);
  EXPECT_EQ(kept.size(), DeviceEmulator::kMaxReceived);
  EXPECT_EQ(kept.substr(kept.size() - 4), "tail");
  port.Receive(std::string(DeviceEmulator::kMaxReceived + 10, 'y'));
  EXPECT_EQ(port.received_size(), DeviceEmulator::kMaxReceived);
}

TEST(Device, ThePortRoadTakesBytesAndAnswersInquiries) {
  DeviceEmulator port("LPT1:");
  port.Attach(Ticket());
  EXPECT_EQ(port.Write("TICKET", 0), 6u);
  EXPECT_EQ(port.Read(100), "") << "printing bytes get no answer";
  EXPECT_EQ(port.Write(kIS, 0), 3u);
  EXPECT_EQ(port.Read(3), "S00");
  EXPECT_EQ(port.Read(100), std::string("\x00\x00" "03025" "04\x00\x00", 11));
  EXPECT_EQ(port.Read(100), "");
  EXPECT_EQ(port.Received(false), "TICKET" + kIS);
  EXPECT_EQ(port.Write("", 0), 0u);
}

TEST(Device, ABusyPortTakesNothing) {
  DeviceEmulator port("LPT1:");
  Device d = Ticket();
  d.faults = {"head_open"};
  port.Attach(d);
  EXPECT_EQ(port.Write("lost", 0), 0u);
  EXPECT_EQ(port.Received(false), "");
}

TEST(Device, AFlashRunRestartsThePrinterWithItsFirmware) {
  DeviceEmulator port("USB001");
  port.Attach(Ticket());
  const std::string image = "QXFW 1.31\n" + std::string(1014, '\x5a');  // 2 blocks
  EXPECT_EQ(port.mode(0), DeviceEmulator::Mode::kPrinting);
  EXPECT_EQ(port.StartFlash(image, true, 10, "FW.BIN", 100), "");
  EXPECT_EQ(port.StartFlash(image, true, 10, "FW.BIN", 101), "FLASH BUSY");
  EXPECT_TRUE(port.FlashRunning(139));
  EXPECT_EQ(port.mode(139), DeviceEmulator::Mode::kFlash);
  EXPECT_TRUE(port.Busy(139)) << "in flash mode the port takes no bytes";
  EXPECT_EQ(port.Progress(140).state, FlashProgress::State::kWriting);
  // Erase 40, write 20, verify 5: done at 165.
  EXPECT_EQ(port.Progress(164).state, FlashProgress::State::kVerifying);
  port.Settle(164);
  EXPECT_EQ(port.Description()->firmware, "1.24") << "not before the run is done";
  EXPECT_EQ(port.Progress(165).state, FlashProgress::State::kDone);
  EXPECT_EQ(port.mode(165), DeviceEmulator::Mode::kPrinting);
  port.Settle(165);
  EXPECT_EQ(port.Description()->firmware, "1.31");
  EXPECT_EQ(port.Inquire(std::string("\x1bIN", 3)).bytes->substr(5, 4), "1.31");
  // A change of the printer keeps the run, and a later run may start.
  port.Attach(*port.Description());
  EXPECT_EQ(port.Progress(200).state, FlashProgress::State::kDone);
  EXPECT_EQ(port.StartFlash("no version", false, 10, "B.BIN", 300), "");
  port.Settle(10000);
  EXPECT_EQ(port.Description()->firmware, "1.31") << "an image that names no version keeps it";
}

TEST(Device, APrinterThatRefusesFailsTheRun) {
  DeviceEmulator port("USB001");
  Device d = Ticket();
  d.faults = {"refuse_firmware"};
  port.Attach(d);
  EXPECT_EQ(port.StartFlash("QXFW 9.9\n", false, 10, "FW.BIN", 0), "");
  const FlashProgress p = port.Progress(40);
  EXPECT_EQ(p.state, FlashProgress::State::kFailed);
  EXPECT_EQ(p.note, "Refused by printer");
  port.Settle(100000);
  EXPECT_EQ(port.Description()->firmware, "1.24");
}

TEST(DeviceBay, OneEmulatorPerPortWithTheWorldsDevices) {
  qxsim::World world;
  world.ports = {{"LPT1:", ""}, {"USB001", ""}, {"COM1:", ""}};
  Device usb = Ticket();
  usb.port = "usb001";
  Device lpt = Ticket();
  lpt.port = "LPT1:";
  lpt.model = "VNP-24";
  world.devices = {usb, lpt};
  qxsim::DeviceBay bay;
  bay.Load(world);
  ASSERT_NE(bay.On("com1:"), nullptr);
  EXPECT_FALSE(bay.On("COM1:")->attached());
  EXPECT_EQ(bay.On("LPT9:"), nullptr);
  std::vector<Device> devices = bay.Devices();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].port, "USB001") << "in the world's order, on the port as the world spells it";
  EXPECT_EQ(devices[1].model, "VNP-24");

  Device com = Ticket();
  com.port = "COM1:";
  EXPECT_TRUE(bay.Attach(com));
  bay.On("USB001")->Detach();
  Device again = Ticket();
  again.port = "USB001";
  EXPECT_TRUE(bay.Attach(again));
  devices = bay.Devices();
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_EQ(devices[0].port, "LPT1:");
  EXPECT_EQ(devices[1].port, "COM1:");
  EXPECT_EQ(devices[2].port, "USB001") << "a device attached anew comes last";
  com.port = "LPT7:";
  EXPECT_FALSE(bay.Attach(com));

  bay.On("LPT1:")->Receive("bytes");
  bay.Load(world);
  EXPECT_EQ(bay.On("LPT1:")->Received(false), "") << "a reload starts afresh";
  EXPECT_EQ(bay.Devices().size(), 2u);
}

}  // namespace
