#pragma once
// The module's log files. log_event only queues disk lines; flush_log_queues writes each
// queue to its file in one append (log_timer runs it every second). write_log_direct appends
// one line at once, for start-up and refusals. The busy flags keep the two writers apart.

#include <string>
#include <string_view>

namespace dexweb {

void flush_log_queues();
void write_log_direct(std::string_view text);

// Waits (up to 2 s, letting events run) while a flush is running, then flushes: the step
// that makes lines queued since the last log_timer tick reach the disk.
void flush_log_queues_after_running_flush();

// The disk-write interlock around a direct write: begin waits for a running flush (bounded),
// flushes, sets direct_busy and waits again; end clears direct_busy and flushes.
void begin_direct_write();
void end_direct_write();

// The interlock as a scope: begin_direct_write at construction, end_direct_write at end().
// When an exception (a halt from an event that ran inside) leaves the scope before end(),
// only direct_busy is cleared, so that queued lines still reach the disk afterwards.
class DirectWrite {
 public:
  DirectWrite() { begin_direct_write(); }
  ~DirectWrite();
  DirectWrite(const DirectWrite&) = delete;
  DirectWrite& operator=(const DirectWrite&) = delete;
  void end();

 private:
  bool ended_ = false;
};

// The module's own log file: Log_Dir + kModuleName + ".log" (the default log folder when
// Log_Dir is empty).
std::string module_log_path();

}  // namespace dexweb
