// connection_test.cpp - a client connection of the wire: several exchanges on
// one connection, bodies both ways, a socket nobody serves, and a server that
// never answers (the connection's time limit ends the call).
#include <qxwire/connection.h>
#include <qxwire/names.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace {

using qxwire::Message;

class Served : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qxwire-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = qxwire::PathIn(dir_, qxwire::kSpoolerSocket);
    listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path_.c_str());
    ASSERT_EQ(bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listen_fd_, 4), 0);
  }
  void TearDown() override {
    if (server_.joinable()) server_.join();
    close(listen_fd_);
    unlink(path_.c_str());
    rmdir(dir_.c_str());
  }
  // Serve - accept one client; answer each message with its head and its
  // body reversed, `answers` times, then close.
  void Serve(int answers) {
    server_ = std::thread([this, answers] {
      const int fd = accept(listen_fd_, nullptr, nullptr);
      if (fd < 0) return;
      for (int i = 0; i < answers; ++i) {
        Message m;
        if (qxwire::ReadMessage(fd, m, {}) != qxwire::ReadResult::kFrame) break;
        if (m.body) m.body = std::string(m.body->rbegin(), m.body->rend());
        if (!qxwire::WriteMessage(fd, m)) break;
      }
      close(fd);
    });
  }
  std::string dir_;
  std::string path_;
  int listen_fd_ = -1;
  std::thread server_;
};

TEST_F(Served, ManyExchangesOnOneConnection) {
  Serve(3);
  qxwire::Connection c;
  ASSERT_TRUE(c.Open(path_, 5, true, nullptr));
  Message reply;
  ASSERT_TRUE(c.Exchange({R"({"n":1})", std::nullopt}, reply, {}));
  EXPECT_EQ(reply.head, R"({"n":1})");
  EXPECT_FALSE(reply.body.has_value());
  ASSERT_TRUE(c.Exchange({R"({"n":2})", std::string("abc")}, reply, {}));
  EXPECT_EQ(*reply.body, "cba");
  ASSERT_TRUE(c.Exchange({R"({"n":3})", std::nullopt}, reply, {}));
  EXPECT_FALSE(c.Exchange({R"({"n":4})", std::nullopt}, reply, {})) << "the server has closed";
  EXPECT_FALSE(c.is_open());
}

TEST_F(Served, AReplyOverTheLimitFails) {
  Serve(1);
  qxwire::Connection c;
  ASSERT_TRUE(c.Open(path_, 5, false, nullptr));
  Message reply;
  EXPECT_FALSE(c.Exchange({std::string(64, ' '), std::nullopt}, reply, {16, 0}));
}

TEST_F(Served, AServerThatNeverAnswersEndsTheCall) {
  qxwire::Connection c;  // the listen backlog takes the connection; nobody reads
  ASSERT_TRUE(c.Open(path_, 1, true, nullptr));
  Message reply;
  EXPECT_FALSE(c.Exchange({"{}", std::nullopt}, reply, {}));
}

TEST(Connection, NobodyServes) {
  qxwire::Connection c;
  std::string error;
  EXPECT_FALSE(c.Open("/tmp/qxwire-nobody-here/spooler.sock", 1, false, &error));
  EXPECT_NE(error.find("no qxsimd answers at /tmp/qxwire-nobody-here/spooler.sock"), std::string::npos) << error;
  EXPECT_FALSE(c.Open("/tmp/" + std::string(200, 'x'), 1, false, &error));
  EXPECT_NE(error.find("path too long for a socket"), std::string::npos) << error;
  Message reply;
  EXPECT_FALSE(c.Exchange({"{}", std::nullopt}, reply, {}));
}

TEST(Names, TheRuntimeFolder) {
  const char* saved = std::getenv("QX_SIM_DIR");
  const std::string keep = saved != nullptr ? saved : "";
  setenv("QX_SIM_DIR", "/tmp/world-a", 1);
  EXPECT_EQ(qxwire::DefaultDir(), "/tmp/world-a");
  setenv("QX_SIM_DIR", "", 1);
  EXPECT_EQ(qxwire::DefaultDir(), "/tmp/qxsim-" + std::to_string(getuid()));
  if (saved != nullptr) {
    setenv("QX_SIM_DIR", keep.c_str(), 1);
  } else {
    unsetenv("QX_SIM_DIR");
  }
  EXPECT_EQ(qxwire::PathIn("/tmp/w", qxwire::kControlSocket), "/tmp/w/control.sock");
}

}  // namespace
