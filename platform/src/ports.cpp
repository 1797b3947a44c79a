// ports.cpp - POSIX platform layer, Win32 side: ports and devices as file
// handles. CreateFileA on "LPT1:", "COM1:", "\\.\LPT1" or a USB device
// interface path opens the port's endpoint in qxsimd (ports.sock); the
// handle's ReadFile, WriteFile, DeviceIoControl and comm time-outs reach the
// emulated printer behind it.
//
// One handle is one connection to ports.sock: qxsimd holds the port for the
// handle from the open until the connection ends, which CloseHandle does, and
// the kernel does when the process ends. Sharing is decided there, against
// the other handles and the spooler.
//
// Time-outs are kept here, per handle, and travel with each read and write;
// qxsimd waits on the scaled clock, never longer than kMaxPortWaitMs.
//
// DeviceIoControl on parallel ports and USB printer interfaces:
//   IOCTL_PAR_QUERY_INFORMATION  one byte, the port status (PARALLEL_BUSY
//                                0x40, ...; docs/world.md lists the bits).
//                                Output under 1 byte: ERROR_INSUFFICIENT_BUFFER.
//   IOCTL_PAR_QUERY_DEVICE_ID    the IEEE 1284 device ID text without the two
//                                length bytes that lead it on the wire, then a
//                                zero when there is room; the count returned
//                                is the text's length. An output shorter than
//                                the text: ERROR_INSUFFICIENT_BUFFER, nothing
//                                written. No printer on the port: ERROR_NOT_READY.
// Serial ports and other codes: ERROR_INVALID_FUNCTION, as a serial driver
// answers a parallel-port request.
#include "ports.h"

#include <ntddpar.h>
#include <qxplatform.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <mutex>
#include <optional>

#include <nlohmann/json.hpp>
#include <qxwire/connection.h>
#include <qxwire/fields.h>
#include <qxwire/names.h>
#include <qxwire/ops.h>

#include "handles.h"
#include "runtime_folder.h"
#include "simlink.h"

namespace qxplat {
namespace {

using nlohmann::json;

// The most one write request carries; a longer WriteFile goes in pieces.
constexpr size_t kMaxWritePiece = size_t{1} << 20;
// The most one read request asks for (qxsimd's own limit).
constexpr DWORD kMaxReadPiece = DWORD{64} << 10;

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// LimitSeconds - how long one exchange may take in real seconds: the
// longest wait qxsimd makes, at the clock's scale, and a margin.
int LimitSeconds() {
  const double wait = std::ceil(static_cast<double>(qxwire::kMaxPortWaitMs) / qxplat_clock_scale() / 1000.0);
  return static_cast<int>(std::min(wait + 30.0, static_cast<double>(INT_MAX / 2)));
}

enum class Kind { kParallel, kSerial, kUsb };

class PortObject final : public FileObject {
 public:
  PortObject(qxwire::Connection connection, Kind kind, DWORD access)
      : FileObject(QXPLAT_KIND_DEVICE), connection_(std::move(connection)), kind_(kind), access_(access) {}

  BOOL Read(void* buffer, DWORD size, DWORD* read) override {
    if (!(access_ & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED);
    std::lock_guard<std::mutex> guard(lock_);
    const json request = {{qxwire::kOp, qxwire::port::kRead},
                          {"max", std::min(size, kMaxReadPiece)},
                          {"interval", timeouts_.ReadIntervalTimeout},
                          {"multiplier", timeouts_.ReadTotalTimeoutMultiplier},
                          {"constant", timeouts_.ReadTotalTimeoutConstant}};
    json reply;
    std::optional<std::string> body;
    if (!ExchangeLocked(request, std::nullopt, reply, body)) return FALSE;
    // Never more than was asked, whatever came.
    const size_t n = body ? std::min<size_t>(body->size(), size) : 0;
    if (n > 0) std::copy_n(body->data(), n, static_cast<char*>(buffer));
    *read = static_cast<DWORD>(n);
    return TRUE;
  }

  BOOL Write(const void* data, DWORD size, DWORD* written) override {
    if (!(access_ & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
    std::lock_guard<std::mutex> guard(lock_);
    const char* bytes = static_cast<const char*>(data);
    DWORD done = 0;
    do {
      const size_t piece = std::min<size_t>(size - done, kMaxWritePiece);
      const json request = {{qxwire::kOp, qxwire::port::kWrite},
                            {"multiplier", timeouts_.WriteTotalTimeoutMultiplier},
                            {"constant", timeouts_.WriteTotalTimeoutConstant}};
      json reply;
      std::optional<std::string> body;
      const bool ok = ExchangeLocked(request, std::string_view(bytes + done, piece), reply, body);
      const uint64_t taken = qxwire::UnsignedOr(reply, "written");
      done += static_cast<DWORD>(std::min<uint64_t>(taken, piece));
      *written = done;
      if (!ok) return FALSE;
    } while (done < size);
    return TRUE;
  }

  BOOL Flush() override { return TRUE; }  // the device took the bytes as they were written

  BOOL IoControl(DWORD code, const void*, DWORD, void* out, DWORD out_size, DWORD* returned) override {
    *returned = 0;
    if (kind_ == Kind::kSerial || (code != IOCTL_PAR_QUERY_INFORMATION && code != IOCTL_PAR_QUERY_DEVICE_ID)) {
      return Fail(ERROR_INVALID_FUNCTION);
    }
    std::lock_guard<std::mutex> guard(lock_);
    json reply;
    std::optional<std::string> body;
    if (code == IOCTL_PAR_QUERY_INFORMATION) {
      if (out_size < sizeof(PAR_QUERY_INFORMATION)) return Fail(ERROR_INSUFFICIENT_BUFFER);
      if (!ExchangeLocked({{qxwire::kOp, qxwire::port::kStatusByte}}, std::nullopt, reply, body)) return FALSE;
      const json& status = qxwire::Member(reply, "status");
      if (!status.is_number_unsigned() || status.get<uint64_t>() > 0xFF) return Fail(ERROR_GEN_FAILURE);
      static_cast<PAR_QUERY_INFORMATION*>(out)->Status = static_cast<UCHAR>(status.get<uint64_t>());
      *returned = sizeof(PAR_QUERY_INFORMATION);
      return TRUE;
    }
    if (!ExchangeLocked({{qxwire::kOp, qxwire::port::kDeviceId}}, std::nullopt, reply, body)) return FALSE;
    const std::string id = body.value_or(std::string());
    if (id.size() > out_size) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::copy(id.begin(), id.end(), static_cast<char*>(out));
    if (id.size() < out_size) static_cast<char*>(out)[id.size()] = '\0';
    *returned = static_cast<DWORD>(id.size());
    return TRUE;
  }

  BOOL GetCommTimeouts(COMMTIMEOUTS* timeouts) override {
    std::lock_guard<std::mutex> guard(lock_);
    *timeouts = timeouts_;
    return TRUE;
  }

  BOOL SetCommTimeouts(const COMMTIMEOUTS& timeouts) override {
    std::lock_guard<std::mutex> guard(lock_);
    timeouts_ = timeouts;
    return TRUE;
  }

  // The port goes back to qxsimd before CloseHandle returns, so that the
  // next open finds it free (and the jobs that waited have printed); the
  // end of the connection would free it too, a moment later.
  void OnClose() override {
    std::lock_guard<std::mutex> guard(lock_);
    json reply;
    std::optional<std::string> body;
    const DWORD saved = GetLastError();
    ExchangeLocked({{qxwire::kOp, qxwire::port::kClose}}, std::nullopt, reply, body);
    SetLastError(saved);
    connection_.Close();
  }

 private:
  static BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
  }

  // ExchangeLocked - one request; false with the last error set when it
  // fails: the error qxsimd reported, or ERROR_GEN_FAILURE when qxsimd is
  // gone or its answer is no reply (the handle is of no further use then).
  bool ExchangeLocked(const json& request, std::optional<std::string_view> data, json& reply,
                      std::optional<std::string>& body) {
    if (!connection_.is_open()) return Fail(ERROR_GEN_FAILURE);
    qxwire::Message message{request.dump(), std::nullopt};
    if (data) message.body.emplace(*data);
    qxwire::Message answer;
    if (!connection_.Exchange(message, answer, qxwire::Limits{qxwire::kMaxReply, qxwire::kMaxBody})) {
      return Fail(ERROR_GEN_FAILURE);
    }
    reply = json::parse(answer.head, nullptr, false);
    const json& error = qxwire::Member(reply, "error");
    if (!reply.is_object() || !error.is_number_unsigned()) {
      connection_.Close();
      return Fail(ERROR_GEN_FAILURE);
    }
    body = std::move(answer.body);
    if (error.get<uint64_t>() != 0) return Fail(static_cast<DWORD>(error.get<uint64_t>()));
    return true;
  }

  std::mutex lock_;
  qxwire::Connection connection_;
  const Kind kind_;
  const DWORD access_;
  COMMTIMEOUTS timeouts_ = kDefaultPortTimeouts;
};

HANDLE FailOpen(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

bool DeviceTarget(std::string_view path, std::string& port, std::string& interface_path) {
  port.clear();
  interface_path.clear();
  std::string_view name = path;
  const bool prefixed = path.size() > 4 && path[0] == '\\' && path[1] == '\\' && (path[2] == '.' || path[2] == '?') &&
                        path[3] == '\\';
  if (prefixed) name.remove_prefix(4);
  if (!name.empty() && name.back() == ':' && !prefixed) name.remove_suffix(1);
  if (name.size() == 4 && (EqualNoCase(name.substr(0, 3), "LPT") || EqualNoCase(name.substr(0, 3), "COM")) &&
      name[3] >= '1' && name[3] <= '9') {
    port = std::string(name.substr(0, 3)) + name[3] + ':';
    for (char& c : port) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return true;
  }
  if (prefixed) {
    interface_path = std::string(path);
    return true;
  }
  return false;
}

HANDLE PortOpen(const std::string& port, const std::string& interface_path, DWORD access, DWORD share) {
  if (access & GENERIC_ALL) access |= GENERIC_READ | GENERIC_WRITE;
  const std::string dir = SimDir();
  const DWORD folder = CheckRuntimeFolder(dir, false);
  if (folder == ERROR_ACCESS_DENIED) return FailOpen(ERROR_ACCESS_DENIED);
  if (folder != 0) return FailOpen(ERROR_FILE_NOT_FOUND);  // no world: no ports
  try {
    qxwire::Connection connection;
    if (!connection.Open(qxwire::PathIn(dir, qxwire::kPortsSocket), LimitSeconds(), true, nullptr)) {
      return FailOpen(ERROR_FILE_NOT_FOUND);
    }
    json request = {{qxwire::kOp, qxwire::port::kOpen},
                    {"access", access & (GENERIC_READ | GENERIC_WRITE)},
                    {"share", share & (FILE_SHARE_READ | FILE_SHARE_WRITE)}};
    if (interface_path.empty()) {
      request["name"] = port;
    } else {
      request["path"] = interface_path;
    }
    qxwire::Message answer;
    if (!connection.Exchange({request.dump(-1, ' ', false, json::error_handler_t::replace), std::nullopt}, answer,
                             qxwire::Limits{qxwire::kMaxReply, qxwire::kMaxBody})) {
      return FailOpen(ERROR_FILE_NOT_FOUND);
    }
    const json reply = json::parse(answer.head, nullptr, false);
    const json& error = qxwire::Member(reply, "error");
    if (!error.is_number_unsigned()) return FailOpen(ERROR_FILE_NOT_FOUND);
    if (error.get<uint64_t>() != 0) return FailOpen(static_cast<DWORD>(error.get<uint64_t>()));
    const std::string* kind_text = qxwire::TextOf(reply, "kind");
    const Kind kind = kind_text == nullptr      ? Kind::kParallel
                      : *kind_text == "serial" ? Kind::kSerial
                      : *kind_text == "usb"    ? Kind::kUsb
                                               : Kind::kParallel;
    return InsertHandle(std::make_shared<PortObject>(std::move(connection), kind, access));
  } catch (const std::exception&) {  // allocation failure
    return FailOpen(ERROR_NOT_ENOUGH_MEMORY);
  }
}

}  // namespace qxplat
