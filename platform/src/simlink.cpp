// simlink.cpp - POSIX platform layer, internal: requests to the simulated
// world's spooler service (see simlink.h).
//
// Trust. Before every request the runtime folder must pass the check the
// named pipes make too (runtime_folder.h: a folder, not a link, of this
// user's own, with no access for group or others), and the daemon that
// answers must run as this user (the socket's peer credentials). Otherwise
// the call fails as when no spooler answers (RPC_S_SERVER_UNAVAILABLE), and
// the first refusal of a folder for a given reason writes one line to
// standard error:
//
//   qxplatform: runtime folder /tmp/qxsim-1000 refused: open to other users
//   (mode 0755); spooler calls fail until it is a folder of this user's own
//   with mode 0700
//
// (one line), so that a user whose folder someone else made, or made too
// open, learns why no world answers. Debug output is not used: it is the
// library's, and is often not captured.
#include "simlink.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <set>

#include <nlohmann/json.hpp>
#include <qxwire/connection.h>
#include <qxwire/fields.h>
#include <qxwire/hex.h>
#include <qxwire/names.h>
#include <qxwire/ops.h>

#include "runtime_folder.h"

namespace qxplat {
namespace {

using nlohmann::json;

// A daemon that accepts and never answers (stopped under a debugger) fails
// the call after this long rather than hanging the caller for good.
constexpr int kReplyLimitSeconds = 30;

// Exchange - one request out, one reply head back; false on any failure,
// including a daemon that does not run as this user.
bool Exchange(const std::string& dir, qxwire::Message request, std::string& reply) {
  qxwire::Connection connection;
  qxwire::Message answer;
  if (!connection.Open(qxwire::PathIn(dir, qxwire::kSpoolerSocket), kReplyLimitSeconds, true, nullptr) ||
      !connection.Exchange(request, answer, qxwire::Limits{qxwire::kMaxReply, qxwire::kMaxBody})) {
    return false;
  }
  reply = std::move(answer.head);
  return true;
}

// ReportRefusedFolder - one line on standard error the first time this
// process refuses dir for this reason (see the file comment).
void ReportRefusedFolder(const std::string& dir, const std::string& reason) {
  static std::mutex lock;
  static std::set<std::string> reported;
  constexpr size_t kMaxRemembered = 64;  // a process that tries many folders stays bounded
  {
    std::lock_guard<std::mutex> guard(lock);
    if (reported.size() >= kMaxRemembered || !reported.insert(dir + '\n' + reason).second) return;
  }
  const std::string line = "qxplatform: runtime folder " + dir + " refused: " + reason +
                           "; spooler calls fail until it is a folder of this user's own with mode 0700\n";
  const int saved_errno = errno;
  [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, line.data(), line.size());
  errno = saved_errno;
}

DWORD Request(const std::string& dir, const json& request, std::optional<std::string_view> body, json& reply) {
  std::string text;
  try {
    std::string reason;
    if (const DWORD folder = CheckRuntimeFolder(dir, false, &reason); folder != 0) {
      if (folder == ERROR_ACCESS_DENIED) ReportRefusedFolder(dir, reason);
      return RPC_S_SERVER_UNAVAILABLE;
    }
    qxwire::Message message{request.dump(-1, ' ', false, json::error_handler_t::replace), std::nullopt};
    if (body) message.body.emplace(*body);
    if (!Exchange(dir, std::move(message), text)) return RPC_S_SERVER_UNAVAILABLE;
    reply = json::parse(text, nullptr, false);
  } catch (const std::exception&) {  // allocation failure
    return RPC_S_SERVER_UNAVAILABLE;
  }
  if (!reply.is_object()) return RPC_S_SERVER_UNAVAILABLE;
  auto error = reply.find("error");
  if (error == reply.end() || !error->is_number_unsigned()) return RPC_S_SERVER_UNAVAILABLE;
  return static_cast<DWORD>(error->get<uint64_t>());
}

}  // namespace

std::string SimDir() { return qxwire::DefaultDir(); }

DWORD SimRequest(const std::string& dir, const json& request, json& reply) {
  return Request(dir, request, std::nullopt, reply);
}

DWORD SimRequest(const std::string& dir, const json& request, std::string_view body, json& reply) {
  return Request(dir, request, body, reply);
}

bool SimSystemInfo(SimSystem& out) {
  json reply;
  if (SimRequest(SimDir(), {{qxwire::kOp, qxwire::spool::kSystem}}, reply) != 0) return false;
  const json& os = qxwire::Member(reply, "os");
  if (!os.is_object()) return false;
  out.major = qxwire::UnsignedOr(os, "major");
  out.minor = qxwire::UnsignedOr(os, "minor");
  out.build = qxwire::UnsignedOr(os, "build");
  out.platform_id = qxwire::UnsignedOr(os, "platform_id");
  const std::string* csd = qxwire::TextOf(os, "csd");
  out.csd = csd != nullptr ? *csd : "";
  out.code_page = qxwire::UnsignedOr(reply, "code_page");
  return true;
}

bool DecodeHex(const std::string& text, std::vector<uint8_t>& bytes) { return qxwire::FromHex(text, bytes); }

}  // namespace qxplat
