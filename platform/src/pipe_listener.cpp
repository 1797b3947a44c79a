// pipe_listener.cpp - POSIX implementation of the server side of a named
// pipe name in this process: claiming the name, the listening socket, and
// the thread that answers hellos and hands clients to listening instances
// (see pipe_ends.h; the handshake is in pipe_wire.h).
//
// One process serves a name: its lock file is held with flock for as long
// as the listener lives, so CreateNamedPipeA in a second process fails.
// Closing the last instance of a name removes the socket before CloseHandle
// returns, so clients then find no pipe.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "pipe_ends.h"
#include "runtime_folder.h"

namespace qxplat {
namespace {

constexpr size_t kMaxPending = 64;   // handshakes a listener reads at once
constexpr size_t kMaxWaiters = 256;  // WaitNamedPipeA clients a listener holds
constexpr int kListenBacklog = 64;
constexpr auto kAcceptBackOff = std::chrono::milliseconds(10);

}  // namespace

Registry& Pipes() {
  static Registry* registry = new Registry;
  return *registry;
}

DWORD Listener::Open() {
  if (DWORD e = CheckRuntimeFolder(address.runtime_dir, true)) return e;
  if (DWORD e = CheckRuntimeFolder(address.pipes_dir, true)) return e;
  if (DWORD e = ClaimName()) return e;
  sockaddr_un sa;
  Fd sock(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  unlink(address.socket_path.c_str());  // a stale socket of a process that is gone
  if (!sock || !wake_ || !FillSocketAddress(address.socket_path, &sa) ||
      bind(sock.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      listen(sock.get(), kListenBacklog) != 0) {
    const DWORD error = sock && wake_ ? ERROR_ACCESS_DENIED : ERROR_TOO_MANY_OPEN_FILES;
    ReleaseName();
    return error;
  }
  listen_fd_ = std::move(sock);
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    ReleaseName();
    listen_fd_.reset();
    return ERROR_NO_SYSTEM_RESOURCES;
  }
  return 0;
}

void Listener::Close() {
  unlink(address.socket_path.c_str());
  StopThread();
  listen_fd_.reset();
  ReleaseName();
}

bool Listener::AnyListeningLocked() const {
  return std::any_of(instances.begin(), instances.end(),
                     [](const PipeEnd* e) { return e->ListeningLocked(); });
}

// The name's lock file is held for as long as this process serves it. Its
// owner removes it while still holding it, so a process that opened it
// just before checks that the path still names the file it locked.
DWORD Listener::ClaimName() {
  for (int attempt = 0; attempt < 8; ++attempt) {
    Fd fd(open(address.lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) return ERROR_ACCESS_DENIED;
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return ERROR_ACCESS_DENIED;  // served elsewhere
    struct stat held, named;
    if (fstat(fd.get(), &held) == 0 && stat(address.lock_path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      lock_fd_ = std::move(fd);
      return 0;
    }
  }
  return ERROR_ACCESS_DENIED;
}

void Listener::ReleaseName() {
  if (!lock_fd_) return;
  unlink(address.lock_path.c_str());
  lock_fd_.reset();
}

void Listener::StopThread() {
  if (!thread_.joinable()) return;
  stop_ = true;
  wake_.Poke();
  thread_.join();
}

bool Listener::AccessAllowed(uint8_t wanted) const {
  if ((wanted & kAccessRead) != 0 && (access & PIPE_ACCESS_OUTBOUND) == 0) return false;
  if ((wanted & kAccessWrite) != 0 && (access & PIPE_ACCESS_INBOUND) == 0) return false;
  return true;
}

bool Listener::Reply(int fd, uint8_t status) const {
  return SendAnswer(fd, status, type, default_timeout);
}

// Answers a complete hello. Returns the descriptor when the client is to be
// told later that an instance listens; otherwise it has been handed to an
// instance or closed.
Fd Listener::Settle(Fd fd, const Hello& hello) {
  if (hello.key != address.key) {
    Reply(fd.get(), kAnswerNoPipe);
    return {};
  }
  Registry& r = Pipes();
  if (hello.op == kOpWait) {
    std::lock_guard<std::mutex> lock(r.lock);
    if (closing) {
      Reply(fd.get(), kAnswerNoPipe);
    } else if (AnyListeningLocked()) {
      Reply(fd.get(), kAnswerReady);
    } else if (Reply(fd.get(), kAnswerWaiting)) {
      return fd;
    }
    return {};
  }
  if (!AccessAllowed(hello.access)) {
    Reply(fd.get(), kAnswerDenied);
    return {};
  }
  const int raw = fd.get();
  std::shared_ptr<RecordConnection> conn = RecordConnection::Create(std::move(fd));
  if (conn == nullptr) return {};  // out of descriptors: the client sees its socket end
  std::lock_guard<std::mutex> lock(r.lock);
  auto it = std::find_if(instances.begin(), instances.end(),
                         [](const PipeEnd* e) { return e->ListeningLocked(); });
  if (closing || it == instances.end()) {
    Reply(raw, closing ? kAnswerNoPipe : kAnswerBusy);
    return {};
  }
  // The answer goes out before the instance can write its first record.
  if (!Reply(raw, kAnswerOpened)) return {};
  PipeEnd* instance = *it;
  instance->conn = std::move(conn);
  instance->state = InstanceState::kConnected;
  instance->changed.notify_all();
  return {};
}

void Listener::AnswerWaiters(std::vector<Fd>& waiters) {
  {
    std::lock_guard<std::mutex> lock(Pipes().lock);
    if (!AnyListeningLocked()) return;
  }
  for (const Fd& w : waiters) Reply(w.get(), kAnswerReady);
  waiters.clear();
}

void Listener::AcceptInto(std::vector<Pending>& pending) {
  while (pending.size() < kMaxPending) {
    Fd client(accept4(listen_fd_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!client) {
      // Out of descriptors, the connection stays queued and the socket
      // readable: pause rather than spin until some are free.
      if (errno == EMFILE || errno == ENFILE) std::this_thread::sleep_for(kAcceptBackOff);
      break;
    }
    pending.push_back(Pending{std::move(client), {}});
  }
}

void Listener::Run() {
  std::vector<Pending> pending;
  std::vector<Fd> waiters;
  std::vector<pollfd> fds;
  while (!stop_) {
    fds.clear();
    fds.push_back({wake_.get(), POLLIN, 0});
    fds.push_back({listen_fd_.get(), static_cast<short>(pending.size() < kMaxPending ? POLLIN : 0), 0});
    for (const Pending& p : pending) fds.push_back({p.fd.get(), POLLIN, 0});
    for (const Fd& w : waiters) fds.push_back({w.get(), POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) continue;  // EINTR
    if ((fds[0].revents & POLLIN) != 0) wake_.Drain();
    if (stop_) break;

    // A waiting client that sends anything or hangs up has given up.
    const size_t first_waiter = 2 + pending.size();
    std::vector<Fd> still_waiting;
    for (size_t i = 0; i < waiters.size(); ++i) {
      if (fds[first_waiter + i].revents == 0) still_waiting.push_back(std::move(waiters[i]));
    }
    waiters.swap(still_waiting);

    std::vector<Pending> still_pending;
    for (size_t i = 0; i < pending.size(); ++i) {
      Pending& p = pending[i];
      if (fds[2 + i].revents == 0) {
        still_pending.push_back(std::move(p));
        continue;
      }
      Hello hello;
      switch (ReadHello(p.fd.get(), &p.hello, &hello)) {
        case HelloState::kIncomplete:
          still_pending.push_back(std::move(p));
          break;
        case HelloState::kBad:
          break;
        case HelloState::kComplete: {
          Fd kept = Settle(std::move(p.fd), hello);
          if (kept && waiters.size() < kMaxWaiters) waiters.push_back(std::move(kept));
          break;
        }
      }
    }
    pending.swap(still_pending);

    if ((fds[1].revents & POLLIN) != 0) AcceptInto(pending);
    if (!waiters.empty()) AnswerWaiters(waiters);
  }
}

}  // namespace qxplat
