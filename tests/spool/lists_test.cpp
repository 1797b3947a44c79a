// The driver's bin and sheet lists handed to callers: fills bounded by the
// caller's count, and lists that change while the library reads them.
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/discovery.h"
#include "core/state.h"
#include "world_test_util.h"

namespace {

using qx::g_state;
using qxtest::json;
using qxtest::kTicket;
using qxtest::PrinterIn;
using qxtest::WorldFrom;

constexpr char kGuard = '\x5a';
constexpr WORD kGuardCode = 0x5a5a;
constexpr size_t kGuardEntries = 4;  // entries of guard bytes past the caller's capacity

bool Has(const std::string& line) {
  for (const auto& l : qxplat::debug_captured()) {
    if (l == line) return true;
  }
  return false;
}

json Bins(int n) {
  json bins = json::array();
  for (int i = 1; i <= n; ++i) bins.push_back({{"name", "Bin " + std::to_string(i)}, {"code", i}});
  return bins;
}

json Sheets(int n) {
  json sheets = json::array();
  for (int i = 0; i < n; ++i) {
    sheets.push_back({{"name", "S L = " + std::to_string(i)}, {"code", 300 + i}, {"width", 826}, {"length", 1000 + i}});
  }
  return sheets;
}

// A caller's pair of list buffers for capacity entries, followed by guard
// entries that no fill may touch.
struct CallerLists {
  CallerLists(size_t entries, size_t entrySize)
      : capacity(entries),
        nameSize(entrySize),
        names((entries + kGuardEntries) * entrySize, kGuard),
        codes(entries + kGuardEntries, kGuardCode) {}
  std::string Name(size_t i) const { return std::string(&names[i * nameSize], strnlen(&names[i * nameSize], nameSize)); }
  bool GuardsIntact() const {
    for (size_t i = capacity * nameSize; i < names.size(); ++i) {
      if (names[i] != kGuard) return false;
    }
    for (size_t i = capacity; i < codes.size(); ++i) {
      if (codes[i] != kGuardCode) return false;
    }
    return true;
  }
  size_t capacity, nameSize;
  std::vector<char> names;
  std::vector<WORD> codes;
};

class Lists : public qxtest::LibraryWorld {
 protected:
  void SetUp() override {
    qxtest::LibraryWorld::SetUp();
    std::strcpy(g_state.printerName, kTicket);
  }
  json DevMode() { return control().Printer(kTicket)["devmode"]; }
  // The ticket printer as the world holds it, with other bins and sheets.
  json TicketWith(const json& bins, const json& sheets) {
    json printer = control().Printer(kTicket);
    for (const char* runtime : {"default", "open_handles", "last_merge_input"}) printer.erase(runtime);
    printer["bins"] = bins;
    printer["sheets"] = sheets;
    return printer;
  }
};

TEST_F(Lists, BinFillsWriteNoMoreThanTheCountSays) {
  for (LONG capacity : {0, 1, 2}) {
    CallerLists lists(static_cast<size_t>(capacity), QX_BIN_NAME_SIZE);
    LONG count = capacity;
    EXPECT_EQ(qxEnumBins(lists.names.data(), lists.codes.data(), &count), QX_ERR_BUFFER_SMALL) << capacity;
    EXPECT_EQ(count, 3) << "the number needed";
    EXPECT_TRUE(lists.GuardsIntact()) << capacity;
    if (capacity >= 1) {
      EXPECT_EQ(lists.Name(0), "Front Feed");
      EXPECT_EQ(lists.codes[0], 1);
    }
    if (capacity >= 2) {
      EXPECT_EQ(lists.Name(1), "Rear Feed");
    }
  }
  // The number the count query reported, or more room: the whole list, and
  // the count receives the number written.
  for (LONG capacity : {3, 5}) {
    CallerLists lists(static_cast<size_t>(capacity), QX_BIN_NAME_SIZE);
    LONG count = capacity;
    ASSERT_EQ(qxEnumBins(lists.names.data(), lists.codes.data(), &count), QX_ERR_OK);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(lists.Name(2), "Manual Feed");
    EXPECT_EQ(lists.codes[2], 4);
    EXPECT_EQ(lists.names[3 * QX_BIN_NAME_SIZE], kGuard) << "nothing past the list";
    EXPECT_TRUE(lists.GuardsIntact());
  }
}

TEST_F(Lists, SheetFillsWriteNoMoreThanTheCountSays) {
  for (LONG capacity : {0, 1, 8}) {
    CallerLists lists(static_cast<size_t>(capacity), QX_SHEET_NAME_SIZE);
    LONG count = capacity;
    EXPECT_EQ(qxEnumSheetSizes(lists.names.data(), lists.codes.data(), &count), QX_ERR_BUFFER_SMALL) << capacity;
    EXPECT_EQ(count, 9);
    EXPECT_TRUE(lists.GuardsIntact()) << capacity;
    if (capacity >= 1) {
      EXPECT_EQ(lists.Name(0), "Letter");
      EXPECT_EQ(lists.codes[0], 1);
    }
  }
  CallerLists lists(9, QX_SHEET_NAME_SIZE);
  LONG count = 9;
  ASSERT_EQ(qxEnumSheetSizes(lists.names.data(), lists.codes.data(), &count), QX_ERR_OK);
  EXPECT_EQ(count, 9);
  EXPECT_EQ(lists.Name(8), "Ticket 3.25 x 7");
  EXPECT_EQ(lists.codes[8], 263);
  EXPECT_TRUE(lists.GuardsIntact());
}

TEST_F(Lists, CountsBelowTheCountQueryAreRefused) {
  for (LONG bad : {-2, -100, LONG{-2147483647} - 1}) {
    CallerLists bins(0, QX_BIN_NAME_SIZE);
    LONG count = bad;
    EXPECT_EQ(qxEnumBins(bins.names.data(), bins.codes.data(), &count), QX_ERR_BAD_ARG) << bad;
    EXPECT_EQ(count, bad);
    EXPECT_TRUE(bins.GuardsIntact());
    CallerLists sheets(0, QX_SHEET_NAME_SIZE);
    EXPECT_EQ(qxEnumSheetSizes(sheets.names.data(), sheets.codes.data(), &count), QX_ERR_BAD_ARG) << bad;
    EXPECT_EQ(count, bad);
    EXPECT_TRUE(sheets.GuardsIntact());
  }
  EXPECT_EQ(qxplat_call_count("DeviceCapabilitiesA"), 0u);
}

TEST_F(Lists, EmptyBinListIsFilledAndSearched) {
  UseWorld(WorldFrom([](json& w) { PrinterIn(w, kTicket)["bins"] = json::array(); }));
  LONG count = QX_COUNT_QUERY;
  ASSERT_EQ(qxEnumBins(nullptr, nullptr, &count), QX_ERR_OK);
  ASSERT_EQ(count, 0);
  CallerLists lists(0, QX_BIN_NAME_SIZE);
  EXPECT_EQ(qxEnumBins(lists.names.data(), lists.codes.data(), &count), QX_ERR_OK);
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(lists.GuardsIntact());
  EXPECT_EQ(qxEnumBins(nullptr, nullptr, &count), QX_ERR_OK);  // no room needed for nothing

  EXPECT_EQ(qxSetBinByBinName("Front Feed"), QX_ERR_BIN_NOT_FOUND);
  EXPECT_TRUE(Has("\nDLL - Enumerate Bins 1st Call passed, Number of bins = 0"));
  EXPECT_TRUE(Has("\nDLL - Enumerate Bins 2nd call passed"));
  EXPECT_FALSE(Has("\nDLL - Enumerate Bins 2nd call FAILED"));
}

TEST_F(Lists, FailedDriverQueriesReleaseEverything) {
  for (unsigned nth : {1u, 2u, 3u, 4u}) {
    qxplat_fault_arm("DeviceCapabilitiesA", nth, ERROR_NOT_SUPPORTED);
    LONG count = 3;
    std::vector<char> names(3 * QX_BIN_NAME_SIZE);
    std::vector<WORD> codes(3);
    EXPECT_EQ(qxEnumBins(names.data(), codes.data(), &count), ERROR_NOT_SUPPORTED) << nth;
    qxplat_fault_clear();
  }
  // The identity query takes the first two blocks; the lists the next ones.
  qxplat_fault_arm("HeapAlloc", 3, 0);
  LONG count = 9;
  std::vector<char> names(9 * QX_SHEET_NAME_SIZE);
  std::vector<WORD> codes(9);
  EXPECT_EQ(qxEnumSheetSizes(names.data(), codes.data(), &count), QX_ERR_NO_MEMORY);
  qxplat_fault_clear();
  float width = 3.25f, length = 6.0f;
  qxplat_fault_arm("HeapAlloc", 4, 0);
  EXPECT_EQ(qxSetSheetSize(&width, &length), QX_ERR_NO_MEMORY);
  qxplat_fault_clear();
  qxplat_fault_arm("DeviceCapabilitiesA", 4, ERROR_NOT_SUPPORTED);
  EXPECT_EQ(qxSetSheetSize(&width, &length), QX_ERR_FAILED);
  EXPECT_EQ(qxplat_fault_fired(), 1u);
  EXPECT_EQ(DevMode()["paper_size"], 258);
}

// Holds the library inside one of its debug lines. QX_DEBUG_OUTPUT names a
// FIFO whose one-page buffer is filled but for `room` bytes: the first line
// (of exactly that length) fits, the next blocks in its write until the test
// drains the FIFO. inotify reports each open of the FIFO, so the test knows
// when the library has reached the blocking line.
class DebugLineGate {
 public:
  DebugLineGate(const std::string& dir, size_t room) : path_(dir + "/debug.fifo") {
    EXPECT_EQ(mkfifo(path_.c_str(), 0600), 0);
    read_ = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    fill_ = open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    const int size = fcntl(read_, F_SETPIPE_SZ, 4096);
    EXPECT_GE(size, static_cast<int>(room));
    const std::string filler(static_cast<size_t>(size) - room, '.');
    EXPECT_EQ(write(fill_, filler.data(), filler.size()), static_cast<ssize_t>(filler.size()));
    notify_ = inotify_init1(IN_CLOEXEC);
    EXPECT_GE(inotify_add_watch(notify_, path_.c_str(), IN_OPEN), 0);
    if (const char* old = std::getenv("QX_DEBUG_OUTPUT")) saved_ = old;
    setenv("QX_DEBUG_OUTPUT", path_.c_str(), 1);
  }
  ~DebugLineGate() {
    if (saved_.empty()) {
      unsetenv("QX_DEBUG_OUTPUT");
    } else {
      setenv("QX_DEBUG_OUTPUT", saved_.c_str(), 1);
    }
    for (int fd : {notify_, fill_, read_}) close(fd);
    unlink(path_.c_str());
  }
  // Waits until the FIFO has been opened n times in all.
  void WaitForOpens(int n) {
    alignas(inotify_event) char events[4096];
    while (opens_ < n) {
      const ssize_t got = read(notify_, events, sizeof events);
      ASSERT_GT(got, 0);
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        if (event->mask & IN_OPEN) ++opens_;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }
  // Empties the FIFO, letting a blocked line through.
  void Drain() {
    char buffer[4096];
    while (read(read_, buffer, sizeof buffer) > 0) {
    }
  }

 private:
  std::string path_;
  std::string saved_;
  int read_ = -1, fill_ = -1, notify_ = -1;
  int opens_ = 0;
};

TEST_F(Lists, BinListGrowingBetweenCountAndFillIsRefused) {
  const json larger = TicketWith(Bins(64), control().Printer(kTicket)["sheets"]);
  const std::string first = "\nDLL - qxSetBinByBinName, name = Bin 40";
  QXRESULT result = 0;
  std::atomic<bool> done{false};
  {
    DebugLineGate gate(dir(), first.size());
    std::thread caller([&] {
      result = qxSetBinByBinName("Bin 40");
      done = true;
    });
    // The second line reports the count, which is taken by now; the fill
    // waits behind it while the printer is re-added with 64 bins.
    gate.WaitForOpens(2);
    control().RemovePrinter(kTicket);
    control().AddPrinter(larger);
    while (!done) {
      gate.Drain();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    caller.join();
  }
  EXPECT_EQ(result, QX_ERR_DEVICE);
  EXPECT_TRUE(Has("\nDLL - Enumerate Bins 1st Call passed, Number of bins = 3"));
  EXPECT_TRUE(Has("\nDLL - Enumerate Bins 2nd call FAILED"));
  EXPECT_EQ(DevMode()["default_source"], 1);
  // Asked again, the larger list is read whole.
  ASSERT_EQ(qxSetBinByBinName("Bin 40"), QX_ERR_OK);
  EXPECT_EQ(DevMode()["default_source"], 40);
}

// The printer is re-added over and over with short and long lists while the
// library reads them: whatever a read sees, it stays inside its blocks and
// the caller's buffers, and releases everything.
TEST_F(Lists, ListsChangingUnderEveryReader) {
  const json few = TicketWith(Bins(1), Sheets(1));
  const json many = TicketWith(Bins(64), Sheets(512));
  std::atomic<bool> stop{false};
  std::atomic<int> changes{0};
  std::thread changer([&] {
    try {
      for (int i = 0; !stop; ++i) {
        control().RemovePrinter(kTicket);
        control().AddPrinter(i % 2 ? few : many);
        ++changes;
      }
    } catch (const qxsim::ControlError& e) {
      ADD_FAILURE() << e.what();
    }
  });
  for (int round = 0; round < 40 || changes < 40; ++round) {
    LONG count = QX_COUNT_QUERY;
    qxEnumBins(nullptr, nullptr, &count);
    if (count >= 0) {
      CallerLists bins(static_cast<size_t>(count), QX_BIN_NAME_SIZE);
      const QXRESULT r = qxEnumBins(bins.names.data(), bins.codes.data(), &count);
      EXPECT_TRUE(bins.GuardsIntact());
      if (r == QX_ERR_OK) {
        EXPECT_LE(static_cast<size_t>(count), bins.capacity);
      }
    }
    count = QX_COUNT_QUERY;
    qxEnumSheetSizes(nullptr, nullptr, &count);
    if (count >= 0) {
      CallerLists sheets(static_cast<size_t>(count), QX_SHEET_NAME_SIZE);
      qxEnumSheetSizes(sheets.names.data(), sheets.codes.data(), &count);
      EXPECT_TRUE(sheets.GuardsIntact());
    }
    float width = 3.25f, length = 6.0f;
    qxSetSheetSize(&width, &length);
    qxSetBinByBinName("Bin 1");
    qx::BuildSheetTable(kTicket, "USB001");
    EXPECT_LE(g_state.sheets.count, 100);
  }
  stop = true;
  changer.join();
}

}  // namespace
