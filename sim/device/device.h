// device.h - qxsimd, simulated-world side: the emulated printer on one port,
// with state of its own. Both roads to a printer reach this one object: the
// language monitor (status inquiries, RFID, the flash run) and the port road
// (bytes in, replies out, the busy bit, the IEEE 1284 device ID) that direct
// CreateFileA on "LPT1:", "COM1:" or a USB device path is to reach next.
//
// A port always has its emulator; a printer is attached to it or not (the
// world file's device object). What a port was sent is kept either way: the
// printed jobs' bytes and the bytes written on the port road, the latest
// kMaxReceived of them.
//
// Every member is safe to call from any thread; the emulator calls out to
// nothing, so its lock is the innermost of the daemon's (world, then the
// device bay, then a device).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "flash.h"
#include "pages.h"
#include "printer.h"

namespace qxsim {

class DeviceEmulator {
 public:
  // The most a port keeps of what it was sent (the oldest bytes go first), and
  // the most replies that wait to be read on the port road.
  static constexpr size_t kMaxReceived = size_t{4} << 20;
  static constexpr size_t kMaxPendingReplies = size_t{64} << 10;

  // A port with no printer attached.
  explicit DeviceEmulator(std::string port);
  DeviceEmulator(const DeviceEmulator&) = delete;
  DeviceEmulator& operator=(const DeviceEmulator&) = delete;

  const std::string& port() const { return port_; }

  // ---- What the printer is -------------------------------------------------
  bool attached() const;
  // Description - the attached printer as it stands at the clock's now (a
  // finished run's or restart's firmware included); nothing when none is
  // attached.
  std::optional<Device> Description();
  // Attach - attach a printer, or change the attached one; its port is this
  // port. What was received and the flash run stay.
  void Attach(Device description);
  void Detach();
  // The order printers were attached in across the bay (for listings).
  uint64_t attached_order() const;
  void set_attached_order(uint64_t order);

  // ---- Replies: the status road ---------------------------------------------
  // What the printer answers and how long (virtual ms) it takes; no bytes
  // when it does not answer (none attached, not responding, unknown inquiry).
  struct Answer {
    std::optional<std::string> bytes;
    unsigned delay_ms = 0;
  };
  // Inquire - the language monitor's status inquiry at virtual time now
  // (kClockNow: the clock's). In flash-reprogram mode or restarting the
  // printer answers no inquiry; a FLASH READY reply it owes comes instead.
  static constexpr uint64_t kClockNow = UINT64_MAX;
  Answer Inquire(std::string_view inquiry, uint64_t now = kClockNow);
  Answer Rfid(std::string_view request) const;
  // HasFault - whether the attached printer shows the fault.
  bool HasFault(std::string_view fault) const;

  // ---- Bytes: the spooler's printed jobs and the port road -----------------
  // Receive - the bytes of a printed job; each drawer command in them
  // (1B 44 52 02) pulses the attached printer's drawer.
  void Receive(std::string_view bytes);
  // Write - bytes from the host on the port road: kept as received. In
  // printing mode, when they are one status inquiry the printer answers it,
  // its reply queued for Read once its reply delay has passed (virtual time
  // now + delay); the flash-mode command (1B 2A 46 52) puts it into
  // flash-reprogram mode. In flash-reprogram mode they are firmware image
  // bytes (see ImageReceiver), but for one whole status inquiry written
  // while no image is under way: the flash-mode inquiry (1B 49 41 0F) makes
  // it owe a FLASH READY reply, the others it ignores. Returns the bytes
  // taken (all of them; none while Busy).
  size_t Write(std::string_view bytes, uint64_t now);
  // FailsPortWrite - counts one port write (a WriteFile on the port road);
  // true when it is the one the printer's fail_write setting names, which
  // the port then fails as a write the printer did not take.
  bool FailsPortWrite();
  // Read - at most max bytes of the replies due by now.
  std::string Read(size_t max, uint64_t now = UINT64_MAX);
  // NextReplyAt - when the next reply still on its way is due; nothing when
  // none is.
  std::optional<uint64_t> NextReplyAt() const;
  // AutoStatus - automatic status back: with no reply waiting or on its way,
  // the printer sends its current "S" reply (due after its reply delay), as
  // a read on the port finds it; in flash-reprogram mode the FLASH READY
  // reply it owes, else nothing. True when a reply is queued or was already
  // there; false for a printer that answers nothing.
  bool AutoStatus(uint64_t now);
  // DropReplies - forget the replies waiting and on their way.
  void DropReplies();

  // ---- Waiting on the port road -------------------------------------------
  // generation - counts changes a port read or write may wait for (bytes
  // written, a printer attached, changed or detached, Poke).
  uint64_t generation() const;
  // WaitChange - until generation() differs from seen, or the virtual time
  // deadline passes, or at most max_real_ms real milliseconds.
  void WaitChange(uint64_t seen, uint64_t deadline, unsigned max_real_ms);
  // Poke - wake every waiter (the daemon stops, a port handle closes).
  void Poke();
  // Received - what the port was sent, oldest first; clear empties it.
  std::string Received(bool clear);
  size_t received_size() const;

  // pages - the pages the printer printed (printed jobs of page lines).
  PageStore& pages() { return pages_; }

  // ---- Port signals --------------------------------------------------------
  // Busy - the parallel port's BUSY line: no printer, a busy printer, one
  // that does not respond or is not ready, one in a language monitor's
  // flash run or restarting after a flash takes no bytes. One in
  // flash-reprogram mode takes them.
  bool Busy(uint64_t now);
  // StatusByte - the parallel port's status byte (IOCTL_PAR_QUERY_INFORMATION):
  // 0x40 busy (as Busy), 0x20 not connected (no printer), 0x04 paper empty
  // (paper_out), 0x08 off line (not ready, not responding or restarting), 0x80 selected
  // (a printer on line). 0x01, 0x02 and 0x10 are never set.
  uint8_t StatusByte(uint64_t now);
  // DeviceId - the IEEE 1284 device ID; "" with no printer.
  std::string DeviceId() const;

  // ---- Firmware -----------------------------------------------------------
  enum class Mode { kPrinting, kFlash, kRestarting };
  // Mode - kFlash from the start of a language monitor's run until it ends
  // (done or failed), and in flash-reprogram mode; kRestarting after a good
  // image came on the port, for the printer's restart_ms.
  Mode mode(uint64_t now);
  // StartFlash - begin a run of image at virtual time now, a block taking
  // block_ms; file names it in the progress. "" when started, else the
  // refusal: "FLASH BUSY" (a run in progress, flash-reprogram mode or its
  // restart), "NO PRINTER". A bad checked image fails the run once erased.
  std::string StartFlash(std::string_view image, bool verify, unsigned block_ms, const std::string& file,
                         uint64_t now);
  // Progress - where the latest run stands.
  FlashProgress Progress(uint64_t now) const;
  bool FlashRunning(uint64_t now) const;
  // Settle - the restart after a run that is done by now: the image's
  // firmware version (when it names one) is the printer's from then on.
  void Settle(uint64_t now);

  // What the port road's flash-reprogram mode and the drawer show.
  struct PortState {
    Mode mode = Mode::kPrinting;
    uint64_t image_bytes = 0;    // taken as image bytes since flash mode began
    size_t image_pending = 0;    // of an image under way (or a header's start)
    uint64_t good_images = 0;    // since flash mode began
    uint64_t bad_images = 0;     // since flash mode began
    uint64_t restart_until = 0;  // virtual ms; while restarting
    bool ready_owed = false;     // a FLASH READY reply not yet read
    uint64_t drawer_pulses = 0;
    uint64_t port_writes = 0;  // counted for fail_write
  };
  PortState State(uint64_t now);

 private:
  // SettleLocked - a done run's firmware goes into the printer.
  void SettleLocked(uint64_t now);
  // CatchUpLocked - a restart over by now puts the new firmware in and ends
  // flash-reprogram mode.
  void CatchUpLocked(uint64_t now);
  void TakeFlashBytesLocked(std::string_view bytes, uint64_t now);
  bool RestartingLocked(uint64_t now) const;
  void KeepLocked(std::string_view bytes);
  bool BusyLocked(uint64_t now) const;
  void QueueReplyLocked(std::string reply, uint64_t due);
  void ChangedLocked();

  const std::string port_;
  mutable std::mutex lock_;
  std::optional<Device> printer_;
  uint64_t attached_order_ = 0;
  std::string received_;
  std::deque<char> replies_;  // due: a read takes them
  struct OnItsWay {
    uint64_t due;
    std::string bytes;
  };
  std::deque<OnItsWay> on_its_way_;  // replies not yet due, in order
  uint64_t generation_ = 0;
  std::condition_variable changed_;
  FlashRun flash_;
  // The port road's flash-reprogram mode.
  struct PortFlash {
    bool active = false;
    bool ready_owed = false;
    ImageReceiver receiver;
    uint64_t image_bytes = 0;
    uint64_t good_images = 0;
    bool restarting = false;
    uint64_t restart_until = 0;
    FirmwareHeader image;  // the good image the restart puts in
  };
  PortFlash port_flash_;
  uint64_t drawer_pulses_ = 0;
  uint64_t port_writes_ = 0;
  PageStore pages_;  // a lock of its own
};

}  // namespace qxsim
