// The library attached to a simulated world, with a pipe of the test's own
// when a reply must be crafted.
#pragma once

#include <cstring>
#include <memory>
#include <string>

#include "core/state.h"
#include "served_pipe.h"
#include "world_test_util.h"

namespace qxtest {

inline constexpr char kTestPipe[] = "\\\\.\\pipe\\QXNamedPipeTEST";
inline constexpr char kNowhere[] = "\\\\.\\pipe\\QXNamedPipeNOWHERE";

inline std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

class LmWorld : public LibraryWorld {
 protected:
  void SetUp() override {
    LibraryWorld::SetUp();
    Attach();
    qxplat_call_counts_reset();
    qxplat_sleep_counters_reset();
  }
  void TearDown() override {
    served_.reset();
    LibraryWorld::TearDown();
  }

  // Serves kTestPipe with the answer and points the library's pipe name at it.
  ServedPipe& Serve(ServedPipe::Answer answer, int instances = 1) {
    served_.reset();
    served_ = std::make_unique<ServedPipe>(kTestPipe, std::move(answer), instances);
    EXPECT_TRUE(served_->ok());
    qxLMSetPipeName(kTestPipe);
    return *served_;
  }
  // Serves the same reply bytes to every request.
  ServedPipe& ServeReply(const std::string& reply) {
    return Serve([reply](const std::string&) { return reply; });
  }
  // Answers each request with its own payload under the given reply code
  // (the command byte echoed when code is negative).
  ServedPipe& ServeEcho(int code = -1, int instances = 1) {
    return Serve(
        [code](const std::string& request) {
          return Frame(code < 0 ? CommandOf(request) : code, PayloadOf(request));
        },
        instances);
  }

  ServedPipe& served() { return *served_; }

 private:
  std::unique_ptr<ServedPipe> served_;
};

}  // namespace qxtest
