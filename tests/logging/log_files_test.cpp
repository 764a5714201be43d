#include "logging/log_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "logging/log_event.h"
#include "logging/logging_fixture.h"

namespace dexweb::test {
namespace {

using LogFiles = LoggingTest;

std::string line(const std::string& text) { return std::string("2024-03-05 14:07:09  ") + text + "\r\n"; }

TEST_F(LogFiles, FlushAppendsEachQueueToItsFile) {
  write_text(dir.file("VTXWeb.log"), "earlier\r\n");
  log_event("general", "disk", "general", "one");
  log_event("general", "disk/message", "general", "two");
  log_event("general", "disk", "general", "three");
  globals().GuiLogQueue.Add("gui line", false);
  flush_log_queues();
  EXPECT_EQ(read_text(dir.file("VTXWeb.log")), "earlier\r\n" + line("one") + line("two") + line("three"));
  EXPECT_EQ(read_text(dir.file("Velotrax.log")), line("VTXWeb two"));
  EXPECT_EQ(read_text(dir.file("VTGUI.log")), "gui line\r\n");
  EXPECT_EQ(globals().DiskLogQueue.Count(), 0);
}

TEST_F(LogFiles, LinesStayQueuedWhileDirectBusyOrWhenTheWriteFails) {
  log_event("general", "disk", "general", "waiting");
  globals().DirectBusy = true;
  flush_log_queues();
  globals().DirectBusy = false;
  globals().Registry.Log_Dir = dir.file("missing/");
  flush_log_queues();
  EXPECT_EQ(globals().DiskLogQueue.Count(), 1);
  EXPECT_FALSE(globals().FlushBusy);
}

TEST_F(LogFiles, DirectWriteComesAfterQueuedLinesAndWaitsBoundedlyForAFlush) {
  log_event("general", "disk", "general", "queued first");
  write_log_direct("direct | raw");
  EXPECT_EQ(read_text(dir.file("VTXWeb.log")), line("queued first") + line("direct | raw"));

  globals().FlushBusy = true;  // a flush that never ends
  auto before = clock.now();
  write_log_direct("went ahead");
  // 2 s before the flush, 1 s after setting DirectBusy (the line is stamped then), 2 s after.
  EXPECT_EQ(clock.now() - before, std::chrono::seconds(5));
  EXPECT_EQ(read_text(dir.file("VTXWeb.log")),
            line("queued first") + line("direct | raw") + "2024-03-05 14:07:12  went ahead\r\n");
  EXPECT_FALSE(globals().DirectBusy);
}

TEST_F(LogFiles, LinesWaitWhileTheLogFolderIsMissingAndNeverGoToTheWorkingFolder) {
  std::string later = dir.dir() + "later/";
  globals().Registry.Log_Dir = later;
  log_event("general", "disk", "general", "kept");
  flush_log_queues();
  EXPECT_EQ(globals().DiskLogQueue.Count(), 1);
  std::filesystem::create_directory(later);
  flush_log_queues();
  EXPECT_EQ(read_text(later + "VTXWeb.log"), line("kept"));

  globals().Registry.Log_Dir.clear();
  EXPECT_EQ(module_log_path(), "/var/log/velotrax/VTXWeb.log");
}

}  // namespace
}  // namespace dexweb::test
