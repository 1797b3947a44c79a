// debug_output.cpp - POSIX implementation of the Win32 debugger output:
// OutputDebugStringA, written to the destination QX_DEBUG_OUTPUT names, and
// the qxplat_ capture calls with which tests and tools read the texts back
// exactly as they were written.
#include <windows.h>
#include <qxplatform.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace qxplat {
namespace {

struct DebugSink {
  std::mutex lock;
  bool capturing = false;
  std::vector<std::string> captured;
};

DebugSink& TheDebugSink() {
  static DebugSink* sink = new DebugSink;
  return *sink;
}

void WriteAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    const ssize_t n = write(fd, data, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // debug output never fails visibly
    data += n;
    len -= static_cast<size_t>(n);
  }
}

}  // namespace
}  // namespace qxplat

using namespace qxplat;

extern "C" {

// OutputDebugStringA - one call writes its text exactly as given, as one
// write, to QX_DEBUG_OUTPUT: unset or empty drops it, "stderr" is standard
// error, anything else a file path appended to. The variable is read on every
// call. A null pointer writes nothing. Calls are serialised, so texts never
// interleave, and captured in order when capture is on.
void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
  if (lpOutputString == nullptr) return;
  const size_t len = std::strlen(lpOutputString);
  DebugSink& sink = TheDebugSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  if (sink.capturing) sink.captured.emplace_back(lpOutputString, len);
  const char* destination = std::getenv("QX_DEBUG_OUTPUT");
  if (destination == nullptr || *destination == '\0' || len == 0) return;
  if (std::strcmp(destination, "stderr") == 0) {
    WriteAll(STDERR_FILENO, lpOutputString, len);
    return;
  }
  const int fd = open(destination, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  WriteAll(fd, lpOutputString, len);
  close(fd);
}

void qxplat_debug_capture_start(void) {
  DebugSink& sink = TheDebugSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  sink.captured.clear();
  sink.capturing = true;
}

void qxplat_debug_capture_stop(void) {
  DebugSink& sink = TheDebugSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  sink.capturing = false;
}

void qxplat_debug_capture_clear(void) {
  DebugSink& sink = TheDebugSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  sink.captured.clear();
}

size_t qxplat_debug_capture_count(void) {
  DebugSink& sink = TheDebugSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  return sink.captured.size();
}

size_t qxplat_debug_capture_text(size_t index, char* buf, size_t size) {
  DebugSink& sink = TheDebugSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  if (index >= sink.captured.size()) return SIZE_MAX;
  const std::string& text = sink.captured[index];
  if (buf != nullptr && size > 0) {
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
  }
  return text.size();
}

}  // extern "C"
