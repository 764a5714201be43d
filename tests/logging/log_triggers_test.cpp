#include "logging/reporter.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "logging/log_event.h"
#include "logging/logging_fixture.h"

namespace dexweb::test {
namespace {

// Children of this process that have not ended (zombies have).
int running_children() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    // read_text, not an istreambuf_iterator: a process that ends between the listing and the
    // read makes the read fail with ESRCH, which the iterator throws and read_text leaves empty.
    const std::string stat = read_text((entry.path() / "stat").string());
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 1));
    char state = 0;
    long ppid = 0;
    rest >> state >> ppid;
    if (ppid == ::getpid() && state != 'Z') ++count;
  }
  return count;
}

void wait_for_children_to_end() {
  for (int waited = 0; running_children() > 0 && waited < 10000; waited += 20)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(running_children(), 0);
}

// Trigger programs are copies of one script that writes its argument count and each
// argument in brackets to <script>.out, so a test sees exactly what arrived, and whether
// anything ran at all.
class LogTriggers : public LoggingTest {
 protected:
  std::string script(const std::string& name) {
    std::string path = dir.file(name);
    write_text(path, "#!/bin/sh\n{ echo \"$#\"; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; } > \"$0.tmp\"\n"
                     "mv \"$0.tmp\" \"$0.out\"\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
  }
  // What the script received once every program started has ended; empty when it did not run.
  std::string received(const std::string& name) {
    wait_for_children_to_end();
    return read_text(dir.file(name + ".out"));
  }
  void trigger_file(const std::string& text) { write_text(dir.file("logmonitorinfo.TXT"), text); }
  // A line written to the log file or still queued.
  bool logged_line(const std::string& text) {
    const std::string lines = read_text(dir.file("VTXWeb.log")) + queued_text(log_state().disk_log_queue);
    return lines.find("  " + text + "\r\n") != std::string::npos;
  }
};

TEST_F(LogTriggers, WebInputStaysOneArgumentAndRunsNothingElse) {
  trigger_file("VTXWeb,ALERT,\"" + script("rec.sh") + " %Message%\",True\r\n");
  std::string hostile = "ALERT \"a b\" ; touch " + dir.file("pwned") + " $(touch " + dir.file("pwned") +
                        "2) `touch " + dir.file("pwned") + "3` 'q' \\\" && exit";
  log_disk(hostile);
  EXPECT_EQ(received("rec.sh"), "1\n[" + hostile + "]\n");
  for (const char* name : {"pwned", "pwned2", "pwned3"}) EXPECT_FALSE(std::filesystem::exists(dir.file(name)));
}

TEST_F(LogTriggers, PlaceholdersAndEscapesAreReplacedInsideEachArgument) {
  trigger_file("VTXWeb,\"up\",\"" + script("rec.sh") + " \\034%module% at %DATETIME%\\034 %Message%\",\"True\"\n");
  log_disk("up %Module% 100%");
  EXPECT_EQ(received("rec.sh"), "2\n[VTXWeb at 2024-03-05 14:07:09]\n[up %Module% 100%]\n");
}

TEST_F(LogTriggers, ContinueFlagFalseStopsAfterAMatchingRow) {
  trigger_file("vtxweb,ALPHA,\"" + script("one.sh") + "\",false\r\n\r\n"
               "OtherModule,ALPHA,\"" + script("other.sh") + "\",True\r\n"
               "VTXWeb,NOMATCH,\"" + script("skipped.sh") + "\",False\r\n"
               "  VTXWeb , ALPHA ,\"" + script("two.sh") + "\",False\r\n"
               "VTXWeb,ALPHA,\"" + script("three.sh") + "\",True\r\n"
               "VTXWeb,cut short");
  log_disk("ALPHA report");
  EXPECT_EQ(received("one.sh"), "0\n");
  EXPECT_EQ(received("two.sh"), "0\n");
  EXPECT_EQ(received("three.sh"), "");
  EXPECT_EQ(received("other.sh") + received("skipped.sh"), "");
  EXPECT_EQ(log_state().log_triggers.rows.size(), 4u);
}

TEST_F(LogTriggers, RunningReportsDoNotTriggerAndTheFileIsReadOnce) {
  trigger_file("VTXWeb,GO,\"" + script("first.sh") + "\",True\r\n");
  log_event(LogLevel::General, LogTarget::Disk, LogCategory::Running, "GO while running");
  EXPECT_EQ(received("first.sh"), "");
  log_disk("GO");
  EXPECT_EQ(received("first.sh"), "0\n");
  trigger_file("VTXWeb,GO,\"" + script("later.sh") + "\",True\r\n");
  log_disk("GO again");
  EXPECT_EQ(received("later.sh"), "");
}

int line_count(const std::string& path) {
  std::string text = read_text(path);
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// Senders can put a row's match text into a report; a flood of such reports must not become
// a flood of processes.
TEST_F(LogTriggers, AProgramRunsOnceAtATimeAndAFewTimesAMinute) {
  std::string program = dir.file("alert.sh");
  write_text(program, "#!/bin/sh\necho $$ >> \"$0.starts\"\nwhile [ ! -e \"$0.release\" ]; do sleep 0.02; done\n");
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  trigger_file("VTXWeb,Database error,\"" + program + " %Message%\",True\r\n");
  std::string starts = program + ".starts";
  const std::string report = "Message rejected. Recipient: 5551234 From: Database error <x@example.com>";

  // The first program is still running (it waits for the release file) during the burst.
  for (int i = 0; i < 20; ++i) log_disk(report);
  write_text(program + ".release", "");
  wait_for_children_to_end();
  EXPECT_EQ(line_count(starts), 1);

  // Each report now comes after the previous program ended: the count per minute holds.
  for (int i = 0; i < 20; ++i) {
    log_disk(report);
    wait_for_children_to_end();
  }
  EXPECT_EQ(line_count(starts), static_cast<int>(kTriggerStartLimit));
  // The lines about held-back matches contain the match text, yet start nothing.
  EXPECT_TRUE(logged_line("Log trigger \"Database error\" was held back 19 times"));

  clock.advance(kTriggerStartWindow);
  log_disk("an unrelated report");
  EXPECT_TRUE(logged_line("Log trigger \"Database error\" was held back 16 times"));
  log_disk(report);
  wait_for_children_to_end();
  EXPECT_EQ(line_count(starts), static_cast<int>(kTriggerStartLimit) + 1);
}

}  // namespace
}  // namespace dexweb::test
