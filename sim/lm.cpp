// Placeholder until the language monitor is built: never serves a pipe.
#include "lm.h"

namespace qxsim {

struct LanguageMonitor::Impl {
  MonitorInfo info;
  bool busy = false;
};

LanguageMonitor::LanguageMonitor(MonitorInfo info) : impl_(new Impl{std::move(info)}) {}
LanguageMonitor::~LanguageMonitor() = default;
bool LanguageMonitor::Start() { return false; }
void LanguageMonitor::Stop() {}
void LanguageMonitor::Crash() {}
void LanguageMonitor::SetBusy(bool busy) { impl_->busy = busy; }
void LanguageMonitor::SetPrinter(const std::string& printer) { impl_->info.printer = printer; }
bool LanguageMonitor::running() const { return false; }
bool LanguageMonitor::busy() const { return impl_->busy; }
const MonitorInfo& LanguageMonitor::info() const { return impl_->info; }

}  // namespace qxsim
