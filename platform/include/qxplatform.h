/*
 * qxplatform.h - POSIX platform layer, extension API.
 *
 * What tests, tools and the simulated world need from the layer beyond Win32:
 * capture of the debug output, live-object accounting, counted fault
 * injection, the simulated OS version and code page, the scaled clock and the
 * module registry. Plain C, every name prefixed qxplat_; it does not include
 * the Win32 headers. Library sources never include it.
 *
 * All functions are thread-safe.
 */
#ifndef QXPLATFORM_H
#define QXPLATFORM_H

#include <stddef.h>
#include <stdint.h>

#define QXPLAT_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Debug output ------------------------------------------------------ */

/*
 * qxplat_debug_capture_start - start capturing OutputDebugStringA texts.
 * Discards anything captured before. While capturing, every text is kept
 * exactly as written, in call order, in addition to going to QX_DEBUG_OUTPUT.
 */
QXPLAT_API void qxplat_debug_capture_start(void);

/* qxplat_debug_capture_stop - stop capturing; what was captured stays readable. */
QXPLAT_API void qxplat_debug_capture_stop(void);

/* qxplat_debug_capture_clear - discard the captured texts (capturing goes on if on). */
QXPLAT_API void qxplat_debug_capture_clear(void);

/* qxplat_debug_capture_count - number of texts captured. */
QXPLAT_API size_t qxplat_debug_capture_count(void);

/*
 * qxplat_debug_capture_text - copy out one captured text.
 *   index (in): 0 for the first text written.
 *   buf (out, may be null when size is 0), size (in): receives at most
 *   size - 1 bytes and a terminating zero.
 * Returns the text's full length (as snprintf does), or SIZE_MAX when there
 * is no text at that index.
 */
QXPLAT_API size_t qxplat_debug_capture_text(size_t index, char *buf, size_t size);

/* ---- Live-object accounting ------------------------------------------- */

/* Kinds of live objects. New kinds are added before QXPLAT_KIND_COUNT. */
typedef enum qxplat_kind {
  QXPLAT_KIND_KERNEL = 0,   /* mutexes and other kernel handles */
  QXPLAT_KIND_PRINTER = 1,  /* spooler printer handles */
  QXPLAT_KIND_FILE = 2,     /* file handles */
  QXPLAT_KIND_PIPE = 3,     /* named-pipe handles, both ends */
  QXPLAT_KIND_DEVICE = 4,   /* port and device handles */
  QXPLAT_KIND_GLOBAL = 5,   /* GlobalAlloc blocks */
  QXPLAT_KIND_LOCAL = 6,    /* LocalAlloc blocks */
  QXPLAT_KIND_HEAP = 7,     /* HeapAlloc blocks */
  QXPLAT_KIND_BSTR = 8,     /* automation strings */
  QXPLAT_KIND_GDI = 9,      /* GDI objects and device contexts */
  QXPLAT_KIND_MODULE = 10,  /* LoadLibraryA references */
  QXPLAT_KIND_REGKEY = 11,  /* registry keys */
  QXPLAT_KIND_DEVINFO = 12, /* device information sets */
  QXPLAT_KIND_COUNT
} qxplat_kind;

/* Room for kinds added later without changing the snapshot's size. */
#define QXPLAT_KIND_SLOTS 32

typedef struct qxplat_counts {
  int64_t live[QXPLAT_KIND_SLOTS];
} qxplat_counts;

/* qxplat_live_count - objects of one kind alive now (0 for an unknown kind). */
QXPLAT_API int64_t qxplat_live_count(qxplat_kind kind);

/* qxplat_kind_name - a short plural name ("global blocks"), or "?" when unknown. */
QXPLAT_API const char *qxplat_kind_name(qxplat_kind kind);

/* qxplat_counts_snapshot - store every kind's live count in *out. */
QXPLAT_API void qxplat_counts_snapshot(qxplat_counts *out);

/*
 * qxplat_counts_diff - compare two snapshots.
 *   before, after (in): snapshots.
 *   buf (out, may be null), size (in): receives a text such as
 *   "global blocks +1, kernel handles -1" (empty when nothing differs),
 *   truncated to fit and always terminated when size > 0.
 * Returns the number of kinds whose counts differ.
 */
QXPLAT_API size_t qxplat_counts_diff(const qxplat_counts *before, const qxplat_counts *after,
                                     char *buf, size_t size);

/* ---- Fault injection -------------------------------------------------- */

/*
 * qxplat_fault_arm - make the nth matching call from now on fail once.
 *   what (in): a class of calls, "alloc" (GlobalAlloc, LocalAlloc, HeapAlloc,
 *     the ReAlloc forms, the SysAlloc functions, and blocks the layer allocates
 *     for a caller, as FormatMessageA does) or "open" (CreateMutexA,
 *     LoadLibraryA and, as they are built, CreateFileA, OpenPrinterA, ...),
 *     "spool" (every other winspool call: GetPrinterA, DeviceCapabilitiesA,
 *     StartDocPrinterA, WritePrinter, SetJobA, GetDefaultPrinterA, ...);
 *     or the name of one function, such as "GetVersionExA", "GetProcAddress"
 *     or "FormatMessageA", which fails whatever its class.
 *   nth (in): 1 fails the first matching call after arming.
 *   error (in): the last error the failing call leaves; 0 means the error
 *     that call gives when it really fails (ERROR_NOT_ENOUGH_MEMORY for an
 *     allocation).
 * A fault fires once and is then spent. Several faults may be armed at once;
 * each counts its own calls. Returns 0, or -1 for a null or empty name, nth 0
 * or too many armed faults (16).
 */
QXPLAT_API int qxplat_fault_arm(const char *what, unsigned nth, uint32_t error);

/* qxplat_fault_clear - disarm every fault and reset the fired count. */
QXPLAT_API void qxplat_fault_clear(void);

/* qxplat_fault_fired - failures injected since the last qxplat_fault_clear. */
QXPLAT_API unsigned qxplat_fault_fired(void);

/* ---- Call counts (files and named pipes) -------------------------------- */

/*
 * qxplat_call_count - calls of one function since the last reset.
 *   function (in): a function name as qxplat_fault_arm takes it.
 * Every call that reaches the function's fault point is counted, whether or
 * not a fault fires. Among them: CreateFileA, ReadFile, WriteFile,
 * FlushFileBuffers, CreateNamedPipeA, ConnectNamedPipe, DisconnectNamedPipe,
 * WaitNamedPipeA, SetNamedPipeHandleState, PeekNamedPipe (each counted on
 * entry, before its arguments are checked), and the kernel calls with fault
 * points. CreateFileA and CreateNamedPipeA are of fault class "open".
 * Returns 0 for a null or never-called name.
 */
QXPLAT_API uint64_t qxplat_call_count(const char *function);

/* qxplat_call_counts_reset - every call count back to 0. */
QXPLAT_API void qxplat_call_counts_reset(void);

/* ---- Mutex trace ------------------------------------------------------ */

/*
 * A record of mutex acquisitions and releases, so that tests can check a
 * lock order. While tracing is on, every successful acquisition
 * (WaitForSingleObject returning WAIT_OBJECT_0 or WAIT_ABANDONED on a mutex,
 * CreateMutexA with bInitialOwner) and every successful ReleaseMutex is
 * appended, with the calling thread's id and the handle value, in the order
 * the calls returned. Recursive acquisitions are recorded each time.
 */
typedef struct qxplat_mutex_event {
  uint32_t thread_id; /* GetCurrentThreadId of the caller */
  uintptr_t handle;   /* the handle value the caller passed or received */
  int acquired;       /* 1 for an acquisition, 0 for a release */
} qxplat_mutex_event;

/* qxplat_mutex_trace_start - discard earlier events and start tracing. */
QXPLAT_API void qxplat_mutex_trace_start(void);

/* qxplat_mutex_trace_stop - stop tracing; the events stay readable. */
QXPLAT_API void qxplat_mutex_trace_stop(void);

/*
 * qxplat_mutex_trace_read - copy out events.
 *   out (out, may be null when max is 0), max (in): receives the first
 *   min(max, total) events, oldest first.
 * Returns the total number of events recorded. At most 1048576 are kept;
 * later ones are dropped.
 */
QXPLAT_API size_t qxplat_mutex_trace_read(qxplat_mutex_event *out, size_t max);

/* ---- Simulated system ------------------------------------------------- */

/*
 * qxplat_set_os_version - the record GetVersionExA reports from now on.
 *   csd (in, may be null for empty): service-pack text, cut to 127 bytes.
 * The default is Windows 10.0 build 19045 on the NT platform (2), no CSD text.
 */
QXPLAT_API void qxplat_set_os_version(uint32_t major, uint32_t minor, uint32_t build,
                                      uint32_t platform_id, const char *csd);

/* qxplat_reset_os_version - back to the default record (and to following the world). */
QXPLAT_API void qxplat_reset_os_version(void);

/*
 * qxplat_set_code_page - the ANSI code page GetACP and IsDBCSLeadByte follow.
 * Supported: 1252 (the default; no lead bytes), 932 (lead bytes 0x81-0x9F and
 * 0xE0-0xFC), 936, 949, 950 (lead bytes 0x81-0xFE). Returns 0, or -1 (and no
 * change) for another code page.
 */
QXPLAT_API int qxplat_set_code_page(uint32_t code_page);

/* ---- Simulated world (spooler area) ------------------------------------ */

/*
 * While no test override is set (qxplat_set_os_version, qxplat_set_code_page),
 * GetVersionExA and GetACP report the OS version record and code page of the
 * world that QX_SIM_DIR (else /tmp/qxsim-<uid>) names, when its qxsimd
 * answers, and the defaults above otherwise.
 */

/* qxplat_reset_code_page - back to 1252 and to following the world. */
QXPLAT_API void qxplat_reset_code_page(void);

/* ---- Graphics --------------------------------------------------------- */

/* One TextOutA on a device context, as the context recorded it. */
typedef struct qxplat_text_out {
  int32_t x, y;
  uint32_t color;        /* the text colour (COLORREF) */
  int32_t cell_height;   /* the selected font's cell, by the layer's text metrics */
  int32_t char_width;
  char face[32];         /* the selected font's face name */
  char text[256];        /* the text drawn, cut to 255 characters */
} qxplat_text_out;

/* qxplat_gdi_text_count - TextOutA calls on hdc since it was created (0 for no context). */
QXPLAT_API size_t qxplat_gdi_text_count(void *hdc);

/* qxplat_gdi_text - the index-th of them, oldest first; 0, or -1 when there is none. */
QXPLAT_API int qxplat_gdi_text(void *hdc, size_t index, qxplat_text_out *out);

/* ---- Clock ------------------------------------------------------------ */

/*
 * The clock behind Sleep, GetTickCount, wait time-outs and every delay of
 * the simulated world runs QX_TIME_SCALE times faster than real time:
 * virtual ms = CLOCK_MONOTONIC ms x scale, so processes with the same scale
 * agree on it.
 */

/* qxplat_clock_now_ms - virtual milliseconds now (GetTickCount64). */
QXPLAT_API uint64_t qxplat_clock_now_ms(void);

/* qxplat_clock_scale - the scale in force. */
QXPLAT_API double qxplat_clock_scale(void);

/*
 * qxplat_clock_set_scale - change the scale at run time.
 * The virtual clock continues from its current value at the new rate, so it
 * stays monotonic in this process; it then no longer agrees with processes
 * that took the scale from QX_TIME_SCALE. Returns 0, or -1 (and no change)
 * unless scale is finite and positive.
 */
QXPLAT_API int qxplat_clock_set_scale(double scale);

/* qxplat_sleep_calls - Sleep calls since the last reset. */
QXPLAT_API uint64_t qxplat_sleep_calls(void);

/* qxplat_sleep_total_ms - virtual ms requested by those calls (INFINITE not added). */
QXPLAT_API uint64_t qxplat_sleep_total_ms(void);

/* qxplat_sleep_counters_reset - both sleep counters back to 0. */
QXPLAT_API void qxplat_sleep_counters_reset(void);

/* ---- Modules ---------------------------------------------------------- */

/*
 * qxplat_register_proc - make GetProcAddress(module, proc) return fn.
 *   module (in): module name, matched as LoadLibraryA matches it (case does
 *     not matter, ".dll" and ".drv" are optional); a new name adds a module.
 *   proc (in): the procedure name (case-sensitive, as on Windows).
 *   fn (in): the procedure; replaces an earlier registration of the name.
 * Returns 0, or -1 for a null or empty name or a null fn.
 */
QXPLAT_API int qxplat_register_proc(const char *module, const char *proc, void (*fn)(void));

#ifdef __cplusplus
} /* extern "C" */

#include <string>
#include <vector>

namespace qxplat {

/* Every captured debug text, in order. */
inline std::vector<std::string> debug_captured() {
  std::vector<std::string> texts;
  const size_t n = qxplat_debug_capture_count();
  for (size_t i = 0; i < n; ++i) {
    const size_t len = qxplat_debug_capture_text(i, nullptr, 0);
    if (len == SIZE_MAX) break;
    std::string text(len + 1, '\0');
    qxplat_debug_capture_text(i, text.data(), text.size());
    text.resize(len);
    texts.push_back(std::move(text));
  }
  return texts;
}

/* Every traced mutex event, oldest first. */
inline std::vector<qxplat_mutex_event> mutex_trace() {
  std::vector<qxplat_mutex_event> events(qxplat_mutex_trace_read(nullptr, 0));
  const size_t total = qxplat_mutex_trace_read(events.data(), events.size());
  if (total < events.size()) events.resize(total);
  return events;
}

/* A snapshot of the live counts; Leaks() names what changed since it was taken. */
class LiveCounts {
 public:
  LiveCounts() { qxplat_counts_snapshot(&counts_); }
  std::string Leaks() const {
    qxplat_counts now;
    qxplat_counts_snapshot(&now);
    char text[512];
    qxplat_counts_diff(&counts_, &now, text, sizeof text);
    return text;
  }

 private:
  qxplat_counts counts_;
};

}  // namespace qxplat
#endif /* __cplusplus */

#endif /* QXPLATFORM_H */
