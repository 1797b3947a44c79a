// wire.cpp - qxsimd, both sides: frame reading and writing (see wire.h).
#include "wire.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace qxsim {
namespace {

// ReadAll - exactly size bytes; 0 on success, 1 when the peer closed before
// the first byte, -1 when it closed or failed after some, -2 when wait gave up.
int ReadAll(int fd, char* data, size_t size, const Wait& wait) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = recv(fd, data + done, size - done, wait ? MSG_DONTWAIT : 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && wait && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!wait(fd, POLLIN)) return -2;
      continue;
    }
    if (n <= 0) return done == 0 ? 1 : -1;
    done += static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace

ReadResult ReadFrame(int fd, std::string& text, size_t max, const Wait& wait) {
  unsigned char head[4];
  const int got = ReadAll(fd, reinterpret_cast<char*>(head), sizeof head, wait);
  if (got == -2) return ReadResult::kGaveUp;
  if (got == 1) return ReadResult::kClosed;
  if (got < 0) return ReadResult::kBroken;
  const size_t size = (size_t{head[0]} << 24) | (size_t{head[1]} << 16) | (size_t{head[2]} << 8) |
                      size_t{head[3]};
  if (size > max) return ReadResult::kTooLarge;
  text.assign(size, '\0');
  if (size == 0) return ReadResult::kFrame;
  const int rest = ReadAll(fd, text.data(), size, wait);
  if (rest == -2) return ReadResult::kGaveUp;
  return rest == 0 ? ReadResult::kFrame : ReadResult::kBroken;
}

bool WriteFrame(int fd, std::string_view text, const Wait& wait) {
  if (text.size() > 0xFFFFFFFFu) return false;
  const auto size = static_cast<uint32_t>(text.size());
  std::string frame;
  frame.reserve(text.size() + 4);
  frame += static_cast<char>(size >> 24);
  frame += static_cast<char>(size >> 16);
  frame += static_cast<char>(size >> 8);
  frame += static_cast<char>(size);
  frame += text;
  size_t done = 0;
  while (done < frame.size()) {
    const ssize_t n = send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL | (wait ? MSG_DONTWAIT : 0));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && wait && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!wait(fd, POLLOUT)) return false;
      continue;
    }
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string DefaultDir() {
  const char* dir = std::getenv("QX_SIM_DIR");
  if (dir != nullptr && *dir != '\0') return dir;
  return "/tmp/qxsim-" + std::to_string(getuid());
}

}  // namespace qxsim
