// robustness_test.cpp - garbage on the daemon's sockets: bytes that are not
// frames, frames that are not JSON, JSON that is not a request, requests with
// the wrong types, sizes and names out of range. Each gets an error reply or
// a closed connection; the daemon goes on serving and its world is unchanged.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>

#include "sim_fixture.h"
#include "wire.h"

namespace {

using nlohmann::json;

// A raw connection to one of the daemon's sockets.
class Raw {
 public:
  Raw(const std::string& dir, const char* socket_name) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = dir + "/" + socket_name;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit{10, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~Raw() { close(fd_); }
  bool connected() const { return connected_; }
  void Send(const std::string& bytes) const {
    ASSERT_EQ(send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  void SendFrame(const std::string& text) const { ASSERT_TRUE(qxsim::WriteFrame(fd_, text)); }
  // The next reply, or null when the daemon closed the connection.
  json Reply() const {
    std::string text;
    if (qxsim::ReadFrame(fd_, text, qxsim::kMaxReply) != qxsim::ReadResult::kFrame) return nullptr;
    return json::parse(text, nullptr, false);
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

std::string Head(uint32_t size) {
  return std::string{static_cast<char>(size >> 24), static_cast<char>(size >> 16), static_cast<char>(size >> 8),
                     static_cast<char>(size)};
}

class Garbage : public qxsim::SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    before_ = control().World();
  }
  void TearDown() override {
    // Still serving both services, with the world untouched.
    EXPECT_EQ(control().World(), before_);
    Raw spooler(dir(), qxsim::kSpoolerSocket);
    ASSERT_TRUE(spooler.connected());
    spooler.SendFrame(R"({"op": "get_default_printer"})");
    EXPECT_EQ(spooler.Reply(), json({{"error", 0}, {"name", "QX ZDA-38 Ticket Printer"}}));
    SimFixture::TearDown();
  }
  json before_;
};

// Spooler requests that are well framed JSON but not valid requests.
TEST_F(Garbage, SpoolerAnswersBadRequestsWithAnError) {
  Raw c(dir(), qxsim::kSpoolerSocket);
  ASSERT_TRUE(c.connected());
  const std::vector<std::string> requests = {
      "",
      "not json at all",
      "[1,2,3]",
      "\"op\"",
      R"({})",
      R"({"op": 12})",
      R"({"op": "launch_missiles"})",
      R"({"op": "enum_printers"})",
      R"({"op": "enum_printers", "flags": -1, "level": 2})",
      R"({"op": "enum_printers", "flags": 2, "level": "two"})",
      R"({"op": "enum_printers", "flags": 2, "level": 1e300})",
      R"({"op": "enum_printers", "flags": 2, "level": 2, "name": 5})",
      R"({"op": "open_printer", "name": null, "access": 8})",
      R"({"op": "open_printer", "name": "QX ZDA-38 Ticket Printer", "access": 99999999999})",
      R"({"op": "get_printer", "handle": -4, "level": 2})",
      R"({"op": "get_printer", "handle": 1.5, "level": 2})",
      R"({"op": "close_printer"})",
      R"({"op": "device_capabilities", "device": ["a"]})",
      // Numbers beyond what the JSON reader holds, and beyond 64 bits.
      R"({"op": "enum_printers", "flags": 2, "level": 1e400})",
      R"({"op": "open_printer", "name": "QX ZDA-38 Ticket Printer", "access": 18446744073709551616})",
      R"({"op": "get_printer", "handle": -1e999, "level": 2})",
  };
  for (const std::string& r : requests) {
    c.SendFrame(r);
    const json reply = c.Reply();
    ASSERT_TRUE(reply.is_object()) << r;
    EXPECT_NE(reply["error"], 0) << r;
    EXPECT_TRUE(reply["message"].is_string()) << r;
  }
}

TEST_F(Garbage, SpoolerRefusesOutOfRangeValuesWithWin32Errors) {
  Raw c(dir(), qxsim::kSpoolerSocket);
  ASSERT_TRUE(c.connected());
  const std::string long_name(100000, 'Q');
  struct Case {
    json request;
    int error;
  };
  const std::vector<Case> cases = {
      {{{"op", "enum_printers"}, {"flags", 2}, {"level", 3}}, ERROR_INVALID_LEVEL},
      {{{"op", "enum_printers"}, {"flags", 2}, {"level", 4294967295u}}, ERROR_INVALID_LEVEL},
      {{{"op", "enum_printers"}, {"flags", 8}, {"level", 1}, {"name", long_name}}, ERROR_INVALID_NAME},
      {{{"op", "open_printer"}, {"name", long_name}, {"access", 8}}, ERROR_INVALID_PRINTER_NAME},
      {{{"op", "open_printer"}, {"name", ""}, {"access", 8}}, ERROR_INVALID_PRINTER_NAME},
      {{{"op", "open_printer"}, {"name", "QX ZDA-38 Ticket Printer"}, {"access", 8}, {"datatype", long_name}},
       ERROR_INVALID_DATATYPE},
      {{{"op", "get_printer"}, {"handle", 123456789}, {"level", 2}}, ERROR_INVALID_HANDLE},
      {{{"op", "close_printer"}, {"handle", 18446744073709551615u}}, ERROR_INVALID_HANDLE},
      {{{"op", "device_capabilities"}, {"device", long_name}}, ERROR_INVALID_PRINTER_NAME},
  };
  for (const Case& k : cases) {
    c.SendFrame(k.request.dump());
    const json reply = c.Reply();
    ASSERT_TRUE(reply.is_object()) << k.request.dump().substr(0, 200);
    EXPECT_EQ(reply["error"], k.error) << k.request.dump().substr(0, 200);
  }
}

// The job and settings calls on an open handle, with every field wrong in
// turn: errors, and the world (its queues, device modes) as it was.
TEST_F(Garbage, JobAndSettingsRequestsWithBadFieldsChangeNothing) {
  Raw c(dir(), qxsim::kSpoolerSocket);
  ASSERT_TRUE(c.connected());
  c.SendFrame(R"({"op": "open_printer", "name": "QX ZDA-38 Ticket Printer", "access": 983052})");
  const json opened = c.Reply();
  ASSERT_EQ(opened["error"], 0);
  const uint64_t h = opened["handle"].get<uint64_t>();
  const std::string devmode_short(100, 'a');
  const std::vector<json> requests = {
      {{"op", "set_printer"}, {"handle", h}},
      {{"op", "set_printer"}, {"handle", h}, {"level", 2}, {"command", 0}, {"devmode", "zz"}},
      {{"op", "set_printer"}, {"handle", h}, {"level", 2}, {"command", 0}, {"devmode", devmode_short}},
      {{"op", "set_printer"}, {"handle", h}, {"level", 2}, {"command", 0}, {"devmode", std::string(400, '0')}},
      {{"op", "set_printer"}, {"handle", h}, {"level", 2}, {"command", 0}, {"location", 5}},
      {{"op", "set_printer"}, {"handle", h}, {"level", 2}, {"command", 0}, {"priority", 0}},
      {{"op", "set_printer"}, {"handle", h}, {"level", 2}, {"command", 0}, {"port", "LPT7:"}},
      {{"op", "set_printer"}, {"handle", h}, {"level", 2}, {"command", 0}, {"location", std::string(300, 'l')}},
      {{"op", "set_printer"}, {"handle", 999}, {"level", 2}, {"command", 0}},
      {{"op", "document_properties"}},
      {{"op", "start_doc"}, {"handle", h}, {"document", 12}},
      {{"op", "start_doc"}, {"handle", h}, {"datatype", "EMF"}},
      {{"op", "start_page"}, {"handle", h}},
      {{"op", "write"}, {"handle", h}, {"data", "00"}},
      {{"op", "end_doc"}, {"handle", h}},
      {{"op", "abort"}, {"handle", h}},
      {{"op", "enum_jobs"}, {"handle", h}, {"first", -1}, {"count", 1}},
      {{"op", "set_job"}, {"handle", h}, {"job", 1}, {"command", 5}},
      {{"op", "set_job"}, {"handle", h}, {"job", "one"}, {"command", 5}},
  };
  for (const json& r : requests) {
    c.SendFrame(r.dump());
    const json reply = c.Reply();
    ASSERT_TRUE(reply.is_object()) << r.dump().substr(0, 200);
    EXPECT_NE(reply["error"], 0) << r.dump().substr(0, 200);
  }
  // A started document takes only hexadecimal bytes; then it goes again.
  c.SendFrame(json({{"op", "start_doc"}, {"handle", h}, {"document", "x"}}).dump());
  ASSERT_EQ(c.Reply()["error"], 0);
  for (const json& data : {json("abc"), json("zz"), json(7)}) {
    c.SendFrame(json({{"op", "write"}, {"handle", h}, {"data", data}}).dump());
    EXPECT_EQ(c.Reply()["error"], ERROR_INVALID_PARAMETER) << data.dump();
  }
  c.SendFrame(json({{"op", "close_printer"}, {"handle", h}}).dump());
  EXPECT_EQ(c.Reply()["error"], 0);
}

TEST_F(Garbage, ControlAnswersBadRequestsWithAnError) {
  Raw c(dir(), qxsim::kControlSocket);
  ASSERT_TRUE(c.connected());
  const std::vector<std::string> requests = {
      "{{{{",
      "null",
      R"({"op": null})",
      R"({"op": "set_printer"})",
      R"({"op": "set_printer", "name": "QX ZDA-38 Ticket Printer", "status": -1})",
      R"({"op": "set_printer", "name": "QX ZDA-38 Ticket Printer", "status": 4294967296})",
      R"({"op": "set_printer", "name": "QX ZDA-38 Ticket Printer", "refuse_open": "yes"})",
      R"({"op": "add_printer", "printer": {"name": "", "port": "LPT1:", "driver": {"name": "D", "path": "d"}}})",
      R"({"op": "add_printer", "printer": []})",
      R"({"op": "add_job", "printer": "QX ZDA-38 Ticket Printer"})",
      R"({"op": "monitor", "port": "USB001", "action": 3})",
      R"({"op": "set_device", "port": "USB001", "device_id": 5})",
      // Numbers beyond what the JSON reader holds, and beyond 64 bits.
      R"({"op": "set_device", "port": "USB001", "temperature": 1e400})",
      R"({"op": "set_device", "port": "USB001", "temperature": 1e300})",
      R"({"op": "set_device", "port": "USB001", "counters": {"tickets": 18446744073709551616}})",
      R"({"op": "add_printer", "printer": {"name": "P", "port": "LPT1:", "driver": {"name": "D", "path": "d"},
          "priority": 1e400}})",
      R"({"op": "add_printer", "printer": {"name": "P", "port": "LPT1:", "driver": {"name": "D", "path": "d"},
          "data": {"X": 1e300}}})",
      R"({"op": "set_printer", "name": "QX ZDA-38 Ticket Printer", "priority": -1e999})",
      R"({"op": "set_monitor", "port": "USB001", "reply_delay_ms": 1e400})",
  };
  for (const std::string& r : requests) {
    c.SendFrame(r);
    const json reply = c.Reply();
    ASSERT_TRUE(reply.is_object()) << r;
    EXPECT_EQ(reply["ok"], false) << r;
    EXPECT_TRUE(reply["error"].is_string()) << r;
  }
}

TEST_F(Garbage, AnOversizedFrameGetsAnErrorAndTheConnectionCloses) {
  for (const char* socket_name : {qxsim::kSpoolerSocket, qxsim::kControlSocket}) {
    Raw c(dir(), socket_name);
    ASSERT_TRUE(c.connected());
    c.Send(Head(0xFFFFFFFFu));
    const json reply = c.Reply();
    ASSERT_TRUE(reply.is_object()) << socket_name;
    EXPECT_NE(reply.dump().find("larger than"), std::string::npos) << socket_name;
    EXPECT_TRUE(c.Reply().is_null()) << "closed after it";
  }
}

TEST_F(Garbage, CutFramesAndRandomBytesOnlyEndTheirConnection) {
  {
    Raw c(dir(), qxsim::kSpoolerSocket);
    c.Send(Head(100) + "{\"op\": ");  // the rest never comes
  }
  {
    Raw c(dir(), qxsim::kControlSocket);
    c.Send("\x01\x02");  // not even a whole length
  }
  {
    Raw c(dir(), qxsim::kSpoolerSocket);
    std::string noise;
    uint32_t x = 12345;
    for (int i = 0; i < 4096; ++i) {
      x = x * 1103515245u + 12345u;
      noise += static_cast<char>(x >> 16);
    }
    c.Send(noise);
  }
  {
    Raw c(dir(), qxsim::kSpoolerSocket);  // connects and leaves at once
  }
}

TEST_F(Garbage, DeeplyNestedJsonIsJustABadRequest) {
  Raw c(dir(), qxsim::kSpoolerSocket);
  ASSERT_TRUE(c.connected());
  c.SendFrame(std::string(500000, '[') + std::string(500000, ']'));
  const json reply = c.Reply();
  ASSERT_TRUE(reply.is_object());
  EXPECT_EQ(reply["error"], ERROR_INVALID_PARAMETER);
}

TEST_F(Garbage, ManyConnectionsAtOnceAreServedOrRefusedCleanly) {
  std::vector<std::unique_ptr<Raw>> open;
  for (int i = 0; i < 300; ++i) open.push_back(std::make_unique<Raw>(dir(), qxsim::kControlSocket));
  open.clear();  // all go at once; the daemon reaps their threads
  // Connections past the limit were closed at once; the others end as their
  // threads see their clients gone, which may take a moment.
  bool serving = false;
  for (int i = 0; i < 200 && !serving; ++i) {
    try {
      control().Status();
      serving = true;
    } catch (const qxsim::ControlError&) {
      usleep(10000);
    }
  }
  EXPECT_TRUE(serving);
}

}  // namespace
