#pragma once
// The reporter of a run: the logging's state (queues, log files' interlock, triggers,
// monitor link), the registry settings it reports by (Log_Dir for the log files,
// DB_Dir for the trigger file) and the error policy whose counters every report starts
// afresh. The daemon owns one and installs it for its lifetime; every layer reports, so
// log_event and the calls below it reach the installed one through the process's one
// reporter pointer. Tests install their own.

#include "config/registry.h"
#include "logging/log_state.h"
#include "util/scoped_pointer.h"

namespace dexweb {

class ErrorPolicy;

class Reporter {
 public:
  // policy may be null: reports then start no counters afresh.
  Reporter(const RegistrySettings& registry, ErrorPolicy* policy) : registry_(registry), policy_(policy) {}
  Reporter(const Reporter&) = delete;
  Reporter& operator=(const Reporter&) = delete;

  const RegistrySettings& registry() const { return registry_; }
  ErrorPolicy* policy() const { return policy_; }
  LogState state;

 private:
  const RegistrySettings& registry_;
  ErrorPolicy* policy_;
};

// Makes reporter the process's reporter for the lifetime of the guard; the one before
// comes back after it.
class ReporterInstall {
 public:
  explicit ReporterInstall(Reporter& reporter);

 private:
  ScopedPointer<Reporter> installed_;
};

// The installed reporter; without one (dexwebctl, a process before its daemon exists) the
// process's reporter of last resort: no registry (the default log folder), no policy.
Reporter& reporter();

}  // namespace dexweb
