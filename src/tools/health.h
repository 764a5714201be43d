#pragma once
// Machine-readable health of a home, for load balancers and monitoring systems.

#include <string>

#include "tools/gateway_status.h"

namespace dexweb::ctl {

struct Health {
  bool healthy = false;
  std::string reason;  // one line
};

// Healthy when this home's module runs (a live process holds its instance lock) and its
// last poll is at most twice its poll interval old (at least kMinHealthySeconds). The reason
// starts with "unknown: " when the lock cannot be examined.
Health judge_health(const GatewayStatus& status);
inline constexpr long kMinHealthySeconds = 5;

// The Prometheus text format (version 0.0.4) of the status: up (left out when unknown),
// accepted and refused reports of the module's run, rows of messages, bad copies, files
// waiting, the oldest waiting file's age, the seconds since the last poll and the files the
// module cannot read.
std::string metrics_text(const GatewayStatus& status);

}  // namespace dexweb::ctl
