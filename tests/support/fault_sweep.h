// Counted fault sweeps: fail call N of a class (allocation, open, spooler
// call) for N = 1, 2, 3, ... until the operation runs to its end without the
// fault firing, and check at every N that the result is one the operation
// may give and that nothing it opened or allocated is left alive.
#pragma once

#include <gtest/gtest.h>
#include <qxplatform.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

namespace qxtest {

// The classes of calls a sweep fails, one at a time.
inline const std::vector<std::string>& SweptClasses() {
  static const std::vector<std::string> classes = {"alloc", "open", "spool"};
  return classes;
}

struct SweepOutcome {
  unsigned calls = 0;   // matching calls the clean run made (the last N that fired)
  bool finished = false;
};

// SweepFaults - runs operation with call N of class what failing, N from 1
//   until a run fires no fault (or limit runs). reset runs before every run
//   (and before the clean one), to put the world back where the operation
//   expects it. Each result, faulted or clean, must be in allowed (an
//   operation that retries or falls back may still succeed under a fault).
template <class Result>
SweepOutcome SweepFaults(const std::string& what, const std::function<Result()>& operation,
                         const std::set<Result>& allowed, const std::function<void()>& reset = {},
                         unsigned limit = 400) {
  SweepOutcome outcome;
  for (unsigned n = 1; n <= limit; ++n) {
    if (reset) reset();
    const qxplat::LiveCounts before;
    qxplat_fault_clear();
    EXPECT_EQ(qxplat_fault_arm(what.c_str(), n, 0), 0);
    const Result result = operation();
    const bool fired = qxplat_fault_fired() > 0;
    qxplat_fault_clear();
    EXPECT_EQ(before.Leaks(), "") << what << " call " << n << " failing";
    EXPECT_TRUE(allowed.count(result) != 0)
        << what << " call " << n << " failing gave " << static_cast<long long>(result);
    if (!fired) {
      outcome.finished = true;
      outcome.calls = n - 1;
      return outcome;
    }
  }
  ADD_FAILURE() << what << ": still failing after " << limit << " runs";
  return outcome;
}

// SweepEveryClass - SweepFaults over every swept class in turn; each sweep
//   must come to a clean run, and the classes named in mustFire must have
//   been called at least once (a sweep that never fired proves nothing).
template <class Result>
void SweepEveryClass(const std::string& name, const std::function<Result()>& operation,
                     const std::set<Result>& allowed, const std::set<std::string>& mustFire = {"open", "spool"},
                     const std::function<void()>& reset = {}) {
  for (const std::string& what : SweptClasses()) {
    SCOPED_TRACE(name + ", " + what + " failing");
    const SweepOutcome outcome = SweepFaults<Result>(what, operation, allowed, reset);
    EXPECT_TRUE(outcome.finished);
    if (mustFire.count(what) != 0) {
      EXPECT_GT(outcome.calls, 0u) << "no call of the class was made";
    }
  }
}

}  // namespace qxtest
