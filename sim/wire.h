// wire.h - qxsimd, both sides: the wire library's framing and names under the
// names the daemon, its tools and tests have always used. Everything here is
// qxwire's (wire/include/qxwire), which the platform layer links too.
#pragma once

#include <qxwire/frame.h>
#include <qxwire/names.h>

namespace qxsim {

using qxwire::kControlSocket;
using qxwire::kIdleLimitMs;
using qxwire::kMaxReply;
using qxwire::kMaxRequest;
using qxwire::kPidFile;
using qxwire::kReadyFile;
using qxwire::kSpoolerSocket;

using qxwire::DefaultDir;
using qxwire::ReadFrame;
using qxwire::ReadResult;
using qxwire::Wait;
using qxwire::WriteFrame;

}  // namespace qxsim
