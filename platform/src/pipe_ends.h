// pipe_ends.h - POSIX platform layer, internal: the objects of the
// named-pipe area. PipeEnd is one handle of a pipe (a server instance or a
// client end; pipes.cpp); Listener is the server side of one pipe name in
// this process (pipe_listener.cpp); the registry holds every name this
// process serves and the one lock that guards the registry, the listeners'
// instance lists and every end's state.
//
// Instance states follow Windows: listening (new, or ConnectNamedPipe after
// a disconnect), connected (a client was given it; stays so after the
// client closed), disconnected (after DisconnectNamedPipe, until
// ConnectNamedPipe). Only a listening instance takes a client.
#ifndef QX_PLATFORM_PIPE_ENDS_H
#define QX_PLATFORM_PIPE_ENDS_H

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "handles.h"
#include "pipe_wire.h"
#include "records.h"
#include "stream.h"

namespace qxplat {

class Listener;

enum class InstanceState { kListening, kConnected, kDisconnected };

// One handle of a pipe: a server instance or a client end. ReadFile,
// WriteFile and FlushFileBuffers reach it through FileObject.
class PipeEnd final : public FileObject {
 public:
  PipeEnd(bool is_server, DWORD pipe_type, DWORD initial_read_mode, uint8_t rights)
      : FileObject(QXPLAT_KIND_PIPE),
        server(is_server),
        type(pipe_type),
        access(rights),
        read_mode(initial_read_mode) {}

  BOOL Read(void* buffer, DWORD size, DWORD* read) override;
  BOOL Write(const void* data, DWORD size, DWORD* written) override;
  BOOL Flush() override;
  void OnClose() override;

  // Registry lock held: true while this server instance takes a client.
  bool ListeningLocked() const { return !closed && state == InstanceState::kListening; }

  const bool server;
  const DWORD type;      // PIPE_TYPE_BYTE or PIPE_TYPE_MESSAGE
  const uint8_t access;  // kAccessRead | kAccessWrite: what this end may do
  // Guarded by the registry lock:
  DWORD read_mode;  // PIPE_READMODE_BYTE or PIPE_READMODE_MESSAGE
  bool closed = false;
  std::shared_ptr<RecordConnection> conn;
  // Server instances only:
  std::shared_ptr<Listener> listener;
  InstanceState state = InstanceState::kListening;
  std::condition_variable changed;  // state or closed changed
};

// Every pipe name this process serves, by socket path.
struct Registry {
  std::mutex lock;
  std::condition_variable listener_gone;
  std::map<std::string, std::shared_ptr<Listener>> listeners;
};

Registry& Pipes();

// The server side of one pipe name in this process: the socket, the name's
// lock file, and one thread that accepts connections, reads hellos, hands a
// connection to a listening instance (or answers busy) and tells waiting
// clients when an instance listens.
class Listener {
 public:
  Listener(PipeAddress where, DWORD pipe_type, DWORD open_access, DWORD max, DWORD time_out)
      : address(std::move(where)),
        type(pipe_type),
        access(open_access),
        max_instances(max),
        default_timeout(time_out) {}

  ~Listener() { StopThread(); }

  // Open - claim the name, bind the socket and start answering. Called with
  // the registry lock held. Returns 0 or a Win32 error; on error nothing is
  // left behind.
  DWORD Open();

  // Close - after the last instance closed: no client finds the name when
  // this returns. Called without the registry lock.
  void Close();

  // Wake - the thread looks at the instances again (one started listening).
  void Wake() const { wake_.Poke(); }

  // Registry lock held.
  bool AnyListeningLocked() const;

  const PipeAddress address;
  const DWORD type;             // PIPE_TYPE_BYTE or PIPE_TYPE_MESSAGE
  const DWORD access;           // PIPE_ACCESS_INBOUND and/or OUTBOUND
  const DWORD max_instances;    // PIPE_UNLIMITED_INSTANCES for no limit
  const DWORD default_timeout;  // for NMPWAIT_USE_DEFAULT_WAIT
  // Guarded by the registry lock:
  std::vector<PipeEnd*> instances;  // removed by their OnClose
  bool closing = false;

 private:
  struct Pending {
    Fd fd;
    std::string hello;
  };

  DWORD ClaimName();
  void ReleaseName();
  void StopThread();
  bool AccessAllowed(uint8_t wanted) const;
  bool Reply(int fd, uint8_t status) const;
  Fd Settle(Fd fd, const Hello& hello);
  void AnswerWaiters(std::vector<Fd>& waiters);
  void AcceptInto(std::vector<Pending>& pending);
  void Run();

  Fd listen_fd_;
  Fd lock_fd_;
  const WakeFd wake_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace qxplat

#endif  // QX_PLATFORM_PIPE_ENDS_H
