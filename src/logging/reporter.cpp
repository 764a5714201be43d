#include "logging/reporter.h"

#include <cstddef>

#include "logging/internal/best_effort.h"
#include "logging/log_event.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/files.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

Reporter* g_installed = nullptr;

Reporter& last_resort() {
  static const RegistrySettings kNoRegistry;
  static Reporter reporter(kNoRegistry, nullptr);
  return reporter;
}

constexpr std::size_t kMaxQueuedLines = 100000;
// A flush appends the queue in pieces of about this size, so that a long queue needs no
// second copy of itself in memory.
constexpr std::size_t kFlushChunkBytes = 64 * 1024;

// Log lines are sanitised to ASCII, so each entry is its line's bytes and CR LF.
std::size_t entry_bytes(const QueuedLine& q) { return q.line.size() + 2; }

// After an append of the first n entries that put `written` bytes into the file: drops the
// entries that are wholly there and notes how much of the next one is (see QueuedLine).
void drop_written(LogQueue& queue, std::size_t n, std::size_t written) {
  if (queue.empty()) return;
  written += queue.front().written;
  std::size_t done = 0;
  while (done < n && written >= entry_bytes(queue[done])) written -= entry_bytes(queue[done++]);
  queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(done));
  if (done < n) queue.front().written = written;
}

// A log folder that stays unwritable for days must not let the queue eat the memory of a
// module that runs for years: past the limit the oldest lines give way, all but one whose
// first part is in the file already, so that the file's line is completed.
void drop_oldest_beyond_limit(LogQueue& queue) {
  if (queue.size() <= kMaxQueuedLines) return;
  const std::size_t surplus = queue.size() - kMaxQueuedLines;
  const auto first = queue.begin() + (queue.front().written > 0 ? 1 : 0);
  queue.erase(first, first + static_cast<std::ptrdiff_t>(surplus));
}

std::string log_folder() { return reporter().registry().log_folder(); }

// The unwritten part of the queue's first lines, up to about kFlushChunkBytes; n receives
// how many lines it holds.
std::string next_chunk(const LogQueue& queue, std::size_t limit, std::size_t& n) {
  std::string chunk;
  n = 0;
  while (n < limit && (n == 0 || chunk.size() < kFlushChunkBytes)) {
    const QueuedLine& q = queue[n++];
    chunk.append(q.line).append("\r\n");
    if (n == 1 && q.written > 0) chunk.erase(0, q.written);
  }
  return chunk;
}

// Appends the lines queued now, a chunk at a time, and drops each chunk once it is written,
// so that lines queued meanwhile, and lines of a failed write, wait for the next flush. A
// write that fails part-way drops what it wrote (see QueuedLine).
void flush_queue(LogQueue& queue, const std::string& path) {
  std::size_t left = queue.size();
  if (left == 0) return;
  while (left > 0) {
    std::size_t n = 0;
    const std::string chunk = next_chunk(queue, left, n);
    std::size_t written = 0;
    try {
      platform::append_file(path, chunk, written);
    } catch (...) {
      drop_written(queue, n, written);
      drop_oldest_beyond_limit(queue);
      throw;
    }
    queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(n));
    left -= n;
  }
}

bool all_queues_empty(const LogState& s) {
  return s.disk_log_queue.empty() && s.message_log_queue.empty() && s.gui_log_queue.empty();
}

}  // namespace

ReporterInstall::ReporterInstall(Reporter& reporter) : installed_(g_installed, &reporter) {}

Reporter& reporter() { return g_installed ? *g_installed : last_resort(); }

LogState& log_state() { return reporter().state; }

std::string log_line(std::string_view stamp, std::string_view text) {
  std::string line(stamp);
  line.append("  ").append(text);
  return line;
}

std::string queued_text(const LogQueue& queue) {
  std::string out;
  for (const QueuedLine& q : queue) out.append(q.line).append("\r\n");
  return out;
}

void reset_process_state() {
  platform::set_server_time_offset(std::chrono::milliseconds{0});
  platform::clear_stop_request();
  log_state() = LogState{};
}

void flush_log_queues() {
  LogState& s = log_state();
  s.flush_due.reset();
  if (all_queues_empty(s)) return;
  best_effort([&] {
    // An empty Log_Dir would make these names relative to the working folder, which is "/"
    // under the service manager: the queues use the same fallback folder as direct lines.
    std::string dir = log_folder();
    best_effort([&] { flush_queue(s.disk_log_queue, dir + std::string(kModuleName) + ".log"); });
    best_effort([&] { flush_queue(s.message_log_queue, dir + "Velotrax.log"); });
    best_effort([&] { flush_queue(s.gui_log_queue, dir + "VTGUI.log"); });
  });
  // Lines a failed write left wait for the next second, not for every report.
  if (!all_queues_empty(s)) s.flush_due = platform::steady_after(1);
}

void write_log_direct(std::string_view text) {
  flush_log_queues();
  best_effort([&] {
    std::string line = log_line(format_datetime(platform::server_now()), text) + "\r\n";
    platform::append_file(module_log_path(), line);
  });
}

void wait_or_stop(double seconds) {
  flush_log_queues();
  if (!platform::wait_unless_stopped(seconds)) throw platform::StopRequested{};
}

std::string module_log_path() { return log_folder() + std::string(kModuleName) + ".log"; }

}  // namespace dexweb
