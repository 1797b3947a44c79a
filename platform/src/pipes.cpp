// pipes.cpp - POSIX implementation of the Win32 named-pipe area:
// CreateNamedPipeA, ConnectNamedPipe, DisconnectNamedPipe, WaitNamedPipeA,
// SetNamedPipeHandleState, PeekNamedPipe, the pipe side of CreateFileA
// (PipeOpen, called by files.cpp), and ReadFile, WriteFile and
// FlushFileBuffers on a pipe end (PipeEnd's FileObject operations).
//
// A pipe is carried over Unix-domain stream sockets in the world's runtime
// folder, so servers and clients may live in different processes. The
// pieces, each in a file of its own:
//
//   pipe_wire.h        where a pipe's socket lives, and the handshake
//   pipe_ends.h        pipe ends, listeners and their registry
//   pipe_listener.cpp  the server side of a name: its accepting thread
//   records.h          the record connection an opened pipe carries
//   stream.h           the socket under it
//
// The runtime folder is $QX_SIM_DIR, or /tmp/qxsim-<uid> when that is unset
// or empty, read afresh by every call that names a pipe. It, and its "pipes"
// subfolder, must pass the runtime-folder check (runtime_folder.h: a folder
// of this user's own, no access for group or others), else the call fails
// with ERROR_ACCESS_DENIED. A server creates the subfolder (mode 0700, with
// the runtime folder itself when missing).
//
// Messages. One message is one data record. A message pipe's WriteFile
// sends exactly one (also when empty); message read mode delivers from one
// record, with ERROR_MORE_DATA when the buffer is shorter and the rest on
// the next read. Byte read mode reads across records, and a byte pipe's
// write sends nothing for 0 bytes.
//
// Closing a handle while another thread is blocked on it (in ReadFile,
// WriteFile, FlushFileBuffers or ConnectNamedPipe) wakes that call, which
// fails with ERROR_BROKEN_PIPE.
//
// Where this differs from Windows, and why:
//   - One process serves a name (its listener owns the socket);
//     CreateNamedPipeA in a second process gives ERROR_ACCESS_DENIED.
//   - Blocking mode only, which is all the library and the monitors use:
//     PIPE_NOWAIT and overlapped I/O are refused with ERROR_INVALID_PARAMETER.
//   - A message is at most 16 MiB, which bounds what a reader buffers; a
//     larger WriteFile on a message pipe fails with ERROR_INVALID_PARAMETER
//     (byte pipes split larger writes).
//   - Writes block only when the socket is full (about 200 KB); the buffer
//     sizes given to CreateNamedPipeA are accepted and not used.
//   - A server that disconnects while a write of its own is blocked (or the
//     client has left more than the socket buffer unread) cannot queue the
//     disconnect record without waiting; the client then sees
//     ERROR_BROKEN_PIPE rather than ERROR_PIPE_NOT_CONNECTED.
//   - A process that forks while serving leaves its child holding the
//     name's lock until the child exits or execs.
#include "pipes.h"

#include <qxplatform.h>

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "accounting.h"
#include "clock.h"
#include "handles.h"
#include "pipe_ends.h"
#include "pipe_wire.h"
#include "records.h"
#include "stream.h"

namespace qxplat {
namespace {

constexpr size_t kMaxMessage = kMaxRecordData;

BOOL FailBool(DWORD error) {
  SetLastError(error);
  return FALSE;
}

HANDLE FailHandle(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

uint8_t AccessRights(DWORD desired) {
  uint8_t rights = 0;
  if ((desired & (GENERIC_READ | GENERIC_ALL)) != 0) rights |= kAccessRead;
  if ((desired & (GENERIC_WRITE | GENERIC_ALL)) != 0) rights |= kAccessWrite;
  return rights;
}

// ---- I/O on either end -------------------------------------------------------

enum class Op { kRead, kWrite, kFlush };

// BeginIo - the connection for one operation on an end, or the error.
DWORD BeginIo(PipeEnd& end, uint8_t needed, std::shared_ptr<RecordConnection>* conn,
              bool* message_mode) {
  std::lock_guard<std::mutex> lock(Pipes().lock);
  if (end.closed) return ERROR_INVALID_HANDLE;
  if ((end.access & needed) != needed) return ERROR_ACCESS_DENIED;
  if (end.server && end.state == InstanceState::kListening) return ERROR_PIPE_LISTENING;
  if (end.conn == nullptr) return ERROR_PIPE_NOT_CONNECTED;
  *conn = end.conn;
  if (message_mode != nullptr) *message_mode = end.read_mode == PIPE_READMODE_MESSAGE;
  return 0;
}

// IoError - the Win32 error for an outcome other than kOk.
DWORD IoError(PipeEnd& end, RecordIo io, Op op) {
  switch (io) {
    case RecordIo::kOk:
      return 0;
    case RecordIo::kMoreData:
      return ERROR_MORE_DATA;
    case RecordIo::kPeerClosed:
      return op == Op::kWrite ? ERROR_NO_DATA : ERROR_BROKEN_PIPE;
    case RecordIo::kPeerDisconnected:
      // Only a server disconnects; a client that claims to has broken the pipe.
      return end.server ? ERROR_BROKEN_PIPE : ERROR_PIPE_NOT_CONNECTED;
    case RecordIo::kLocalClosed: {
      // Closed meanwhile by another thread, or (a server) disconnected.
      std::lock_guard<std::mutex> lock(Pipes().lock);
      return end.closed ? ERROR_BROKEN_PIPE : ERROR_PIPE_NOT_CONNECTED;
    }
  }
  return ERROR_BROKEN_PIPE;
}

}  // namespace

// ---- Pipe ends -----------------------------------------------------------------

BOOL PipeEnd::Read(void* buffer, DWORD size, DWORD* read) {
  std::shared_ptr<RecordConnection> connection;
  bool message_mode = false;
  if (DWORD e = BeginIo(*this, kAccessRead, &connection, &message_mode)) return FailBool(e);
  const RecordIo io = connection->Read(buffer, size, message_mode, read);
  return io == RecordIo::kOk ? TRUE : FailBool(IoError(*this, io, Op::kRead));
}

BOOL PipeEnd::Write(const void* data, DWORD size, DWORD* written) {
  const bool message_pipe = type == PIPE_TYPE_MESSAGE;
  if (message_pipe && size > kMaxMessage) return FailBool(ERROR_INVALID_PARAMETER);
  std::shared_ptr<RecordConnection> connection;
  if (DWORD e = BeginIo(*this, kAccessWrite, &connection, nullptr)) return FailBool(e);
  const RecordIo io = connection->Write(data, size, message_pipe);
  if (io != RecordIo::kOk) return FailBool(IoError(*this, io, Op::kWrite));
  *written = size;
  return TRUE;
}

// A server instance without a client has nothing to flush.
BOOL PipeEnd::Flush() {
  std::shared_ptr<RecordConnection> connection;
  if (DWORD e = BeginIo(*this, kAccessWrite, &connection, nullptr)) {
    const bool idle = e == ERROR_PIPE_LISTENING || (e == ERROR_PIPE_NOT_CONNECTED && server);
    return idle ? TRUE : FailBool(e);
  }
  const RecordIo io = connection->Flush();
  return io == RecordIo::kOk ? TRUE : FailBool(IoError(*this, io, Op::kFlush));
}

void PipeEnd::OnClose() {
  Registry& r = Pipes();
  std::shared_ptr<RecordConnection> connection;
  std::shared_ptr<Listener> last;  // set when this was its name's last instance
  {
    std::lock_guard<std::mutex> lock(r.lock);
    closed = true;
    connection = std::move(conn);
    if (server && listener != nullptr) {
      auto& list = listener->instances;
      list.erase(std::remove(list.begin(), list.end(), this), list.end());
      if (list.empty()) {
        listener->closing = true;
        last = listener;
      }
      changed.notify_all();
    }
  }
  if (last != nullptr) {
    last->Close();
    std::lock_guard<std::mutex> lock(r.lock);
    auto it = r.listeners.find(last->address.socket_path);
    if (it != r.listeners.end() && it->second == last) r.listeners.erase(it);
    r.listener_gone.notify_all();
  }
  if (connection != nullptr) connection->Shutdown();
}

// ---- Client side ---------------------------------------------------------------

HANDLE PipeOpen(const char* path, DWORD access) {
  PipeAddress address;
  if (DWORD e = ResolvePipe(path, &address)) {
    return FailHandle(e == ERROR_INVALID_NAME ? ERROR_FILE_NOT_FOUND : e);
  }
  const uint8_t rights = AccessRights(access);
  Fd sock;
  Answer answer;
  if (DWORD e = Ask(address, kOpOpen, rights, &sock, &answer)) return FailHandle(e);
  switch (answer.status) {
    case kAnswerOpened:
      break;
    case kAnswerBusy:
      return FailHandle(ERROR_PIPE_BUSY);
    case kAnswerDenied:
      return FailHandle(ERROR_ACCESS_DENIED);
    default:
      return FailHandle(ERROR_FILE_NOT_FOUND);
  }
  std::shared_ptr<RecordConnection> conn = RecordConnection::Create(std::move(sock));
  if (conn == nullptr) return FailHandle(ERROR_TOO_MANY_OPEN_FILES);
  // A client end starts in byte read mode, whatever the pipe's type.
  auto end = std::make_shared<PipeEnd>(false, answer.type, PIPE_READMODE_BYTE, rights);
  end->conn = std::move(conn);
  return InsertHandle(std::move(end));
}

}  // namespace qxplat

using namespace qxplat;

extern "C" {

// CreateNamedPipeA - create one instance of a named pipe; the first one
// creates the name. The new instance listens at once: a client may connect
// before ConnectNamedPipe.
//   lpName (in): "\\.\pipe\NAME", at most 256 characters, any case.
//   dwOpenMode (in): PIPE_ACCESS_INBOUND, _OUTBOUND or _DUPLEX, optionally
//     FILE_FLAG_FIRST_PIPE_INSTANCE and FILE_FLAG_WRITE_THROUGH (no effect).
//   dwPipeMode (in): PIPE_TYPE_BYTE or _MESSAGE, PIPE_READMODE_BYTE or
//     _MESSAGE (message needs a message type), PIPE_WAIT, PIPE_ACCEPT_ or
//     _REJECT_REMOTE_CLIENTS (every client is local).
//   nMaxInstances (in): 1 to 254, or PIPE_UNLIMITED_INSTANCES; the first
//     instance's value holds for the name.
//   nOutBufferSize, nInBufferSize, lpSecurityAttributes: accepted, unused.
//   nDefaultTimeOut (in): ms for WaitNamedPipeA with NMPWAIT_USE_DEFAULT_WAIT;
//     0 means 50.
// Returns the server handle or INVALID_HANDLE_VALUE with:
// ERROR_PATH_NOT_FOUND (null name), ERROR_INVALID_NAME (not a pipe name),
// ERROR_FILENAME_EXCED_RANGE, ERROR_INVALID_PARAMETER (bad or unsupported
// modes: PIPE_NOWAIT, FILE_FLAG_OVERLAPPED; bad instance count),
// ERROR_PIPE_BUSY (every allowed instance exists), ERROR_ACCESS_DENIED (first
// instance asked for but one exists; another type or direction than the
// existing instances; another process serves the name; an unusable runtime
// folder). Fault class "open".
HANDLE WINAPI CreateNamedPipeA(LPCSTR lpName, DWORD dwOpenMode, DWORD dwPipeMode,
                               DWORD nMaxInstances, DWORD nOutBufferSize, DWORD nInBufferSize,
                               DWORD nDefaultTimeOut, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  if (FaultPoint(kFaultOpen, "CreateNamedPipeA", ERROR_PIPE_BUSY)) return INVALID_HANDLE_VALUE;
  if (lpName == nullptr) return FailHandle(ERROR_PATH_NOT_FOUND);
  const DWORD access = dwOpenMode & PIPE_ACCESS_DUPLEX;
  const DWORD known_open =
      PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_WRITE_THROUGH;
  const DWORD known_pipe = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_REJECT_REMOTE_CLIENTS;
  const DWORD type = dwPipeMode & PIPE_TYPE_MESSAGE;
  if (access == 0 || (dwOpenMode & ~known_open) != 0 || (dwPipeMode & ~known_pipe) != 0 ||
      ((dwPipeMode & PIPE_READMODE_MESSAGE) != 0 && type != PIPE_TYPE_MESSAGE) ||
      nMaxInstances == 0 || nMaxInstances > PIPE_UNLIMITED_INSTANCES) {
    return FailHandle(ERROR_INVALID_PARAMETER);
  }
  PipeAddress address;
  if (DWORD e = ResolvePipe(lpName, &address)) return FailHandle(e);

  Registry& r = Pipes();
  std::unique_lock<std::mutex> lock(r.lock);
  // A name whose last instance is closing on another thread is reusable once gone.
  auto it = r.listeners.find(address.socket_path);
  while (it != r.listeners.end() && it->second->closing) {
    r.listener_gone.wait(lock);
    it = r.listeners.find(address.socket_path);
  }
  std::shared_ptr<Listener> listener;
  if (it != r.listeners.end()) {
    listener = it->second;
    if ((dwOpenMode & FILE_FLAG_FIRST_PIPE_INSTANCE) != 0 || listener->type != type ||
        listener->access != access) {
      return FailHandle(ERROR_ACCESS_DENIED);
    }
    if (listener->max_instances != PIPE_UNLIMITED_INSTANCES &&
        listener->instances.size() >= listener->max_instances) {
      return FailHandle(ERROR_PIPE_BUSY);
    }
  } else {
    listener = std::make_shared<Listener>(address, type, access, nMaxInstances,
                                          nDefaultTimeOut != 0 ? nDefaultTimeOut
                                                               : kSystemDefaultTimeOut);
    if (DWORD e = listener->Open()) return FailHandle(e);
    r.listeners.emplace(address.socket_path, listener);
  }
  uint8_t rights = 0;
  if ((access & PIPE_ACCESS_INBOUND) != 0) rights |= kAccessRead;
  if ((access & PIPE_ACCESS_OUTBOUND) != 0) rights |= kAccessWrite;
  auto end = std::make_shared<PipeEnd>(true, type, dwPipeMode & PIPE_READMODE_MESSAGE, rights);
  end->listener = listener;
  listener->instances.push_back(end.get());
  listener->Wake();  // clients waiting in WaitNamedPipeA
  lock.unlock();
  return InsertHandle(std::move(end));
}

// ConnectNamedPipe - wait until a client takes this server instance.
//   lpOverlapped: must be null.
// A disconnected instance listens again first. Returns TRUE once a client
// is connected; FALSE with ERROR_PIPE_CONNECTED when one connected before
// the call, ERROR_NO_DATA when that client has already closed,
// ERROR_BROKEN_PIPE when another thread closed the handle meanwhile,
// ERROR_INVALID_FUNCTION on a client handle, ERROR_INVALID_HANDLE.
BOOL WINAPI ConnectNamedPipe(HANDLE hNamedPipe, LPOVERLAPPED lpOverlapped) {
  if (FaultPoint({}, "ConnectNamedPipe", ERROR_PIPE_NOT_CONNECTED)) return FALSE;
  if (lpOverlapped != nullptr) return FailBool(ERROR_INVALID_PARAMETER);
  auto end = LookupHandle<PipeEnd>(hNamedPipe);
  if (end == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  if (!end->server) return FailBool(ERROR_INVALID_FUNCTION);
  std::unique_lock<std::mutex> lock(Pipes().lock);
  if (end->closed) return FailBool(ERROR_INVALID_HANDLE);
  if (end->state == InstanceState::kConnected) {
    std::shared_ptr<RecordConnection> conn = end->conn;
    lock.unlock();
    return FailBool(conn != nullptr && conn->PeerGone() ? ERROR_NO_DATA : ERROR_PIPE_CONNECTED);
  }
  if (end->state == InstanceState::kDisconnected) {
    end->state = InstanceState::kListening;
    end->listener->Wake();
  }
  end->changed.wait(lock,
                    [&] { return end->closed || end->state != InstanceState::kListening; });
  return end->closed ? FailBool(ERROR_BROKEN_PIPE) : TRUE;
}

// DisconnectNamedPipe - end this server instance's connection: data not yet
// read by either side is discarded, and the client's reads and writes fail
// with ERROR_PIPE_NOT_CONNECTED. The instance takes no client until
// ConnectNamedPipe. FALSE with ERROR_PIPE_LISTENING when no client has come
// since it listens, ERROR_PIPE_NOT_CONNECTED when already disconnected,
// ERROR_NOT_SUPPORTED on a client handle.
BOOL WINAPI DisconnectNamedPipe(HANDLE hNamedPipe) {
  if (FaultPoint({}, "DisconnectNamedPipe", ERROR_PIPE_NOT_CONNECTED)) return FALSE;
  auto end = LookupHandle<PipeEnd>(hNamedPipe);
  if (end == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  if (!end->server) return FailBool(ERROR_NOT_SUPPORTED);
  std::shared_ptr<RecordConnection> conn;
  {
    std::lock_guard<std::mutex> lock(Pipes().lock);
    if (end->closed) return FailBool(ERROR_INVALID_HANDLE);
    if (end->state == InstanceState::kListening) return FailBool(ERROR_PIPE_LISTENING);
    if (end->state == InstanceState::kDisconnected) return FailBool(ERROR_PIPE_NOT_CONNECTED);
    conn = std::move(end->conn);
    end->state = InstanceState::kDisconnected;
    end->changed.notify_all();
  }
  if (conn != nullptr) conn->Disconnect();
  return TRUE;
}

// WaitNamedPipeA - wait until an instance of the pipe listens. Does not
// reserve it: the next CreateFileA may still find the pipe busy.
//   nTimeOut (in): virtual ms on the scaled clock; NMPWAIT_USE_DEFAULT_WAIT
//     takes the server's default, NMPWAIT_WAIT_FOREVER never times out.
// Returns TRUE, or FALSE with ERROR_FILE_NOT_FOUND (no such pipe, or it went
// away while waiting), ERROR_SEM_TIMEOUT (no instance listened in time),
// ERROR_PATH_NOT_FOUND (null or not a pipe name).
BOOL WINAPI WaitNamedPipeA(LPCSTR lpNamedPipeName, DWORD nTimeOut) {
  if (FaultPoint({}, "WaitNamedPipeA", ERROR_SEM_TIMEOUT)) return FALSE;
  if (lpNamedPipeName == nullptr) return FailBool(ERROR_PATH_NOT_FOUND);
  PipeAddress address;
  if (DWORD e = ResolvePipe(lpNamedPipeName, &address)) {
    return FailBool(e == ERROR_INVALID_NAME ? ERROR_PATH_NOT_FOUND : e);
  }
  Fd sock;
  Answer answer;
  if (DWORD e = Ask(address, kOpWait, 0, &sock, &answer)) {
    return FailBool(e == ERROR_PIPE_BUSY ? ERROR_SEM_TIMEOUT : e);
  }
  if (answer.status == kAnswerReady) return TRUE;
  if (answer.status != kAnswerWaiting) return FailBool(ERROR_FILE_NOT_FOUND);

  const bool forever = nTimeOut == NMPWAIT_WAIT_FOREVER;
  const DWORD ms = nTimeOut == NMPWAIT_USE_DEFAULT_WAIT ? answer.default_timeout : nTimeOut;
  const auto deadline = RealDeadline(ms);
  for (;;) {
    timespec ts = {0, 0};
    if (!forever) {
      const auto left = deadline - std::chrono::steady_clock::now();
      if (left <= std::chrono::steady_clock::duration::zero()) break;
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      ts.tv_sec = static_cast<time_t>(ns / 1000000000);
      ts.tv_nsec = static_cast<long>(ns % 1000000000);
    }
    pollfd p = {sock.get(), POLLIN, 0};
    const int n = ppoll(&p, 1, forever ? nullptr : &ts, nullptr);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) {
      Answer ready;
      const DWORD e = ReadAnswer(sock.get(), std::chrono::steady_clock::now() + kAnswerGuard, &ready);
      if (e == 0 && ready.status == kAnswerReady) return TRUE;
      return FailBool(ERROR_FILE_NOT_FOUND);
    }
  }
  return FailBool(ERROR_SEM_TIMEOUT);
}

// SetNamedPipeHandleState - set an end's read mode.
//   lpMode (in, may be null): PIPE_READMODE_BYTE or PIPE_READMODE_MESSAGE,
//     with PIPE_WAIT. Message mode needs a message-type pipe; PIPE_NOWAIT is
//     not supported.
//   lpMaxCollectionCount, lpCollectDataTimeout: they govern only pipes to
//     another machine; ignored.
// Errors: ERROR_INVALID_PARAMETER (the mode), ERROR_ACCESS_DENIED (a client
// end opened without GENERIC_WRITE), ERROR_INVALID_HANDLE.
BOOL WINAPI SetNamedPipeHandleState(HANDLE hNamedPipe, LPDWORD lpMode,
                                    LPDWORD lpMaxCollectionCount, LPDWORD lpCollectDataTimeout) {
  if (FaultPoint({}, "SetNamedPipeHandleState", ERROR_INVALID_PARAMETER)) return FALSE;
  auto end = LookupHandle<PipeEnd>(hNamedPipe);
  if (end == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  if (!end->server && (end->access & kAccessWrite) == 0) return FailBool(ERROR_ACCESS_DENIED);
  if (lpMode == nullptr) return TRUE;
  const DWORD mode = *lpMode;
  if ((mode & ~static_cast<DWORD>(PIPE_READMODE_MESSAGE)) != 0 ||
      ((mode & PIPE_READMODE_MESSAGE) != 0 && end->type != PIPE_TYPE_MESSAGE)) {
    return FailBool(ERROR_INVALID_PARAMETER);
  }
  std::lock_guard<std::mutex> lock(Pipes().lock);
  if (end->closed) return FailBool(ERROR_INVALID_HANDLE);
  end->read_mode = mode;
  return TRUE;
}

// PeekNamedPipe - look at unread data without taking it, without waiting.
//   lpBuffer (out, may be null: nothing copied), nBufferSize (in).
//   lpBytesRead, lpTotalBytesAvail, lpBytesLeftThisMessage (out, each may be
//     null): bytes copied, bytes unread in all, and of the first message the
//     bytes not copied (0 on a byte pipe). A message pipe copies from its
//     first message only, whatever the read mode.
// Errors as for ReadFile: ERROR_BROKEN_PIPE once the other end is gone and
// nothing is left, ERROR_PIPE_NOT_CONNECTED, ERROR_PIPE_LISTENING.
BOOL WINAPI PeekNamedPipe(HANDLE hNamedPipe, LPVOID lpBuffer, DWORD nBufferSize,
                          LPDWORD lpBytesRead, LPDWORD lpTotalBytesAvail,
                          LPDWORD lpBytesLeftThisMessage) {
  if (FaultPoint({}, "PeekNamedPipe", ERROR_BROKEN_PIPE)) return FALSE;
  auto end = LookupHandle<PipeEnd>(hNamedPipe);
  if (end == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  std::shared_ptr<RecordConnection> conn;
  if (DWORD e = BeginIo(*end, kAccessRead, &conn, nullptr)) return FailBool(e);
  DWORD copied = 0, available = 0, left = 0;
  const RecordIo io = conn->Peek(lpBuffer, lpBuffer != nullptr ? nBufferSize : 0,
                           end->type == PIPE_TYPE_MESSAGE, &copied, &available, &left);
  if (io != RecordIo::kOk) return FailBool(IoError(*end, io, Op::kRead));
  if (lpBytesRead != nullptr) *lpBytesRead = copied;
  if (lpTotalBytesAvail != nullptr) *lpTotalBytesAvail = available;
  if (lpBytesLeftThisMessage != nullptr) *lpBytesLeftThisMessage = left;
  return TRUE;
}

}  // extern "C"
