#include "logging/log_files.h"

#include "config/globals.h"
#include "logging/best_effort.h"
#include "platform/files.h"

namespace dexweb {
namespace {

constexpr std::string_view kDefaultLogFolder = "/var/log/velotrax/";
constexpr double kWaitStep = 0.1;
constexpr int kFlushWaitSteps = 20;
constexpr int kDirectWaitSteps = 10;
constexpr int kMaxQueuedLines = 100000;

class BusyFlag {
 public:
  explicit BusyFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~BusyFlag() { flag_ = false; }
  BusyFlag(const BusyFlag&) = delete;
  BusyFlag& operator=(const BusyFlag&) = delete;

 private:
  bool& flag_;
};

void wait_while_flushing(int steps) {
  for (int i = 0; i < steps && globals().FlushBusy; ++i) best_effort([] { platform::wait_seconds(kWaitStep); });
}

// A log folder that stays unwritable for days must not let the queue eat the memory of a
// module that runs for years: past the limit the oldest lines give way.
void drop_oldest_beyond_limit(NVPList& queue) {
  int surplus = queue.Count() - kMaxQueuedLines;
  if (surplus <= 0) return;
  int first = 1;
  queue.RemoveRange(first, surplus);
}

std::string log_folder() {
  const std::string& dir = globals().Registry.Log_Dir;
  return dir.empty() ? std::string(kDefaultLogFolder) : dir;
}

// Writes the queue's first n lines in one append and only then drops them, so that lines
// queued meanwhile, and lines of a failed write, wait for the next flush.
void flush_queue(NVPList& queue, const std::string& path, clsStringBuilder& builder) {
  int n = queue.Count();
  if (n == 0 || globals().DirectBusy) return;
  builder.Clear();
  for (int i = 1; i <= n; ++i) builder.AppendLine(queue.GetNameByIndex(i));
  try {
    platform::append_file(path, builder.ToString());
  } catch (...) {
    drop_oldest_beyond_limit(queue);
    throw;
  }
  int first = 1;
  queue.RemoveRange(first, n);
  let_events_run();
}

bool all_queues_empty(const Globals& g) {
  return g.DiskLogQueue.Count() == 0 && g.MessageLogQueue.Count() == 0 && g.GuiLogQueue.Count() == 0;
}

}  // namespace

void flush_log_queues() {
  Globals& g = globals();
  if (all_queues_empty(g) || g.DirectBusy || g.FlushBusy) return;
  BusyFlag busy(g.FlushBusy);
  best_effort([&] {
    clsStringBuilder builder;
    // An empty Log_Dir would make these names relative to the working folder, which is "/"
    // under the service manager: the queues use the same fallback folder as direct lines.
    std::string dir = log_folder();
    best_effort([&] { flush_queue(g.DiskLogQueue, dir + g.ModuleName + ".log", builder); });
    best_effort([&] { flush_queue(g.MessageLogQueue, dir + "Velotrax.log", builder); });
    best_effort([&] { flush_queue(g.GuiLogQueue, dir + "VTGUI.log", builder); });
  });
}

void flush_log_queues_after_running_flush() {
  wait_while_flushing(kFlushWaitSteps);
  flush_log_queues();
}

void begin_direct_write() {
  flush_log_queues_after_running_flush();
  globals().DirectBusy = true;
  wait_while_flushing(kDirectWaitSteps);
}

void end_direct_write() {
  globals().DirectBusy = false;
  flush_log_queues_after_running_flush();
}

void write_log_direct(std::string_view text) {
  begin_direct_write();
  let_events_run();
  best_effort([&] {
    std::string line = format_datetime(ServerNow()) + "  " + std::string(text) + "\r\n";
    platform::append_file(module_log_path(), line);
  });
  let_events_run();
  end_direct_write();
}

std::string module_log_path() { return log_folder() + globals().ModuleName + ".log"; }

}  // namespace dexweb
