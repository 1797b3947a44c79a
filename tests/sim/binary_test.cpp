// binary_test.cpp - bulk bytes on the wire to qxsimd: a document written as
// binary bodies and as hex on one long-lived spooler connection, the bytes a
// port received read back both ways, and bodies the daemon must refuse (too
// large, cut short) without harm to the world.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <windows.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <qxwire/connection.h>
#include <qxwire/names.h>
#include <qxwire/ops.h>

#include "sim_fixture.h"

namespace {

using nlohmann::json;
using qxwire::Message;

constexpr const char* kTicket = "QX ZDA-38 Ticket Printer";

class Binary : public qxsim::SimFixture {
 protected:
  // One request on the connection; its reply head, null when there is none.
  json Ask(qxwire::Connection& c, const json& request, std::optional<std::string> body = std::nullopt,
           std::optional<std::string>* reply_body = nullptr) {
    Message reply;
    if (!c.Exchange({request.dump(), std::move(body)}, reply, {qxwire::kMaxReply, qxwire::kMaxBody})) return nullptr;
    if (reply_body != nullptr) *reply_body = reply.body;
    return json::parse(reply.head, nullptr, false);
  }
  // Raw - a plain socket to one of the daemon's, for bytes no client sends.
  int Raw(const char* socket_name) const {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = qxwire::PathIn(dir(), socket_name);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  }
  qxwire::Connection Spooler() {
    qxwire::Connection c;
    EXPECT_TRUE(c.Open(qxwire::PathIn(dir(), qxwire::kSpoolerSocket), 20, true, nullptr));
    return c;
  }
};

TEST_F(Binary, ADocumentInBodiesAndHexOnOneConnection) {
  qxwire::Connection c = Spooler();
  const json opened = Ask(c, {{"op", qxwire::spool::kOpenPrinter}, {"name", kTicket}, {"access", 8}});
  ASSERT_EQ(opened["error"], 0) << opened.dump();
  const uint64_t handle = opened["handle"];
  ASSERT_EQ(Ask(c, {{"op", qxwire::spool::kStartDoc}, {"handle", handle}, {"document", "Ticket"}})["error"], 0);
  std::string binary;
  for (int b = 0; b < 256; ++b) binary += static_cast<char>(b);
  const json first = Ask(c, {{"op", qxwire::spool::kWrite}, {"handle", handle}}, binary);
  EXPECT_EQ(first["error"], 0);
  EXPECT_EQ(first["written"], 256);
  const json second = Ask(c, {{"op", qxwire::spool::kWrite}, {"handle", handle}, {"data", "0d0a"}});
  EXPECT_EQ(second["written"], 2);
  EXPECT_EQ(Ask(c, {{"op", qxwire::spool::kWrite}, {"handle", handle}}, std::string())["written"], 0);
  EXPECT_EQ(Ask(c, {{"op", qxwire::spool::kWrite}, {"handle", handle}})["error"], ERROR_INVALID_PARAMETER)
      << "neither a body nor data";
  ASSERT_EQ(Ask(c, {{"op", qxwire::spool::kEndDoc}, {"handle", handle}})["error"], 0);

  EXPECT_EQ(control().Received("USB001"), binary + "\r\n");
  const json as_hex = control().Call({{"op", "received"}, {"port", "USB001"}});
  EXPECT_EQ(as_hex["size"], 258);
  EXPECT_EQ(as_hex["data"].get<std::string>().substr(0, 8), "00010203");
  EXPECT_EQ(as_hex["data"].get<std::string>().substr(512), "0d0a");
  EXPECT_EQ(control().Received("USB001", true).size(), 258u);
  EXPECT_EQ(control().Received("USB001"), "");
  EXPECT_EQ(Ask(c, {{"op", qxwire::spool::kClosePrinter}, {"handle", handle}})["error"], 0);
}

TEST_F(Binary, ABodyTooLargeClosesOnlyItsConnection) {
  qxwire::Connection c = Spooler();
  // Announce a body past the limit: the daemon answers with an error and closes.
  std::string bytes;
  ASSERT_TRUE(qxwire::EncodeMessage({R"({"op":"write","handle":1})", std::string()}, bytes));
  bytes.resize(bytes.size() - 4);
  bytes += std::string("\x7f\xff\xff\xff", 4);
  const int fd = Raw(qxwire::kSpoolerSocket);
  ASSERT_GE(fd, 0);
  const timeval limit{20, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  std::string text;
  ASSERT_EQ(qxwire::ReadFrame(fd, text, qxwire::kMaxReply), qxwire::ReadResult::kFrame);
  const json refused = json::parse(text, nullptr, false);
  EXPECT_EQ(refused["error"], ERROR_INVALID_PARAMETER);
  char byte;
  EXPECT_EQ(read(fd, &byte, 1), 0) << "closed after the error";
  close(fd);
  // Other connections, and the world, carry on.
  EXPECT_EQ(Ask(c, {{"op", qxwire::spool::kSystem}})["error"], 0);
  EXPECT_EQ(control().Printers().size(), 4u);
}

TEST_F(Binary, ABodyCutShortEndsOnlyItsConnection) {
  const int fd = Raw(qxwire::kControlSocket);
  ASSERT_GE(fd, 0);
  std::string bytes;
  ASSERT_TRUE(qxwire::EncodeMessage({R"({"op":"status"})", std::string(100, 'x')}, bytes));
  bytes.resize(bytes.size() - 50);
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  shutdown(fd, SHUT_WR);
  const timeval limit{20, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  char byte;
  EXPECT_EQ(read(fd, &byte, 1), 0) << "no reply to half a message";
  close(fd);
  EXPECT_EQ(control().Status()["printers"], 4);
}

TEST_F(Binary, AControlRequestMayCarryABodyItDoesNotNeed) {
  qxwire::Connection c;
  ASSERT_TRUE(c.Open(qxwire::PathIn(dir(), qxwire::kControlSocket), 20, true, nullptr));
  std::optional<std::string> body;
  const json reply = Ask(c, {{"op", "received"}, {"port", "LPT1:"}, {"binary", true}}, std::string("ignored"), &body);
  EXPECT_EQ(reply["ok"], true);
  ASSERT_TRUE(body.has_value());
  EXPECT_EQ(*body, "");
  EXPECT_EQ(reply.contains("data"), false);
  EXPECT_EQ(Ask(c, {{"op", "received"}, {"port", "LPT1:"}, {"binary", 1}})["error"], "\"binary\" must be true or false");
}

}  // namespace
