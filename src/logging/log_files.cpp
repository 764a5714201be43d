#include "logging/log_files.h"

#include <cstdint>
#include <variant>

#include "config/globals.h"
#include "logging/best_effort.h"
#include "logging/log_state.h"
#include "platform/files.h"
#include "platform/system_info.h"

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
  for (int i = 0; i < steps && log_state().FlushBusy; ++i) best_effort([] { platform::wait_seconds(kWaitStep); });
}

// A queue entry's value counts the bytes of its line (CR LF included) that are already in
// the file: a full disk may take the first part of an append and refuse the rest, and the
// next flush then goes on after that part instead of writing it twice. Only the first entry
// can have such a part.
std::size_t part_on_disk(const NVPList& queue) {
  Variant value = queue.GetValueByIndex(1);
  const std::int32_t* count = std::get_if<std::int32_t>(&value);
  return count && *count > 0 ? static_cast<std::size_t>(*count) : 0;
}

// Log lines are sanitised to ASCII, so each entry is its name's bytes and CR LF.
std::size_t entry_bytes(const NVPList& queue, int index) { return queue.GetNameByIndex(index).size() + 2; }

// After an append of the first n entries that put `written` bytes into the file: drops the
// entries that are wholly there and notes how much of the next one is.
void drop_written(NVPList& queue, int n, std::size_t written) {
  written += part_on_disk(queue);
  int done = 0;
  while (done < n && written >= entry_bytes(queue, done + 1)) written -= entry_bytes(queue, ++done);
  if (done > 0) {
    int first = 1;
    queue.RemoveRange(first, done);
  }
  if (done < n) queue.SetValueByIndex(1, static_cast<std::int32_t>(written));
}

// A log folder that stays unwritable for days must not let the queue eat the memory of a
// module that runs for years: past the limit the oldest lines give way, all but one whose
// first part is in the file already, so that the file's line is completed.
void drop_oldest_beyond_limit(NVPList& queue) {
  int surplus = queue.Count() - kMaxQueuedLines;
  if (surplus <= 0) return;
  int first = part_on_disk(queue) > 0 ? 2 : 1;
  int last = first + surplus - 1;
  queue.RemoveRange(first, last);
}

std::string log_folder() {
  const std::string& dir = globals().Registry.Log_Dir;
  return dir.empty() ? std::string(kDefaultLogFolder) : dir;
}

// Writes the queue's first n lines in one append and only then drops them, so that lines
// queued meanwhile, and lines of a failed write, wait for the next flush. A write that fails
// part-way drops what it wrote (see part_on_disk).
void flush_queue(NVPList& queue, const std::string& path, clsStringBuilder& builder) {
  int n = queue.Count();
  if (n == 0 || log_state().DirectBusy) return;
  std::size_t skip = part_on_disk(queue);
  std::string head = skip > 0 ? (queue.GetNameByIndex(1) + "\r\n").substr(skip) : std::string();
  builder.Clear();
  for (int i = skip > 0 ? 2 : 1; i <= n; ++i) builder.AppendLine(queue.GetNameByIndex(i));
  std::size_t written = 0;
  try {
    platform::append_file(path, head + builder.ToString(), written);
  } catch (...) {
    drop_written(queue, n, written);
    drop_oldest_beyond_limit(queue);
    throw;
  }
  int first = 1;
  queue.RemoveRange(first, n);
  let_events_run();
}

bool all_queues_empty(const LogState& s) {
  return s.DiskLogQueue.Count() == 0 && s.MessageLogQueue.Count() == 0 && s.GuiLogQueue.Count() == 0;
}

}  // namespace

void flush_log_queues() {
  LogState& s = log_state();
  if (all_queues_empty(s) || s.DirectBusy || s.FlushBusy) return;
  BusyFlag busy(s.FlushBusy);
  best_effort([&] {
    clsStringBuilder builder(platform::page_size());
    // An empty Log_Dir would make these names relative to the working folder, which is "/"
    // under the service manager: the queues use the same fallback folder as direct lines.
    std::string dir = log_folder();
    best_effort([&] { flush_queue(s.DiskLogQueue, dir + globals().ModuleName + ".log", builder); });
    best_effort([&] { flush_queue(s.MessageLogQueue, dir + "Velotrax.log", builder); });
    best_effort([&] { flush_queue(s.GuiLogQueue, dir + "VTGUI.log", builder); });
  });
}

void flush_log_queues_after_running_flush() {
  wait_while_flushing(kFlushWaitSteps);
  flush_log_queues();
}

void begin_direct_write() {
  flush_log_queues_after_running_flush();
  log_state().DirectBusy = true;
  wait_while_flushing(kDirectWaitSteps);
}

void end_direct_write() {
  log_state().DirectBusy = false;
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
