#include "logging/reporter.h"

namespace dexweb {
namespace {

Reporter* g_installed = nullptr;

Reporter& last_resort() {
  static const RegistrySettings kNoRegistry;
  static Reporter reporter(kNoRegistry, nullptr);
  return reporter;
}

}  // namespace

ReporterInstall::ReporterInstall(Reporter& reporter) : installed_(g_installed, &reporter) {}

Reporter& reporter() { return g_installed ? *g_installed : last_resort(); }

LogState& log_state() { return reporter().state; }

}  // namespace dexweb
