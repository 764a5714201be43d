// The log: which lines reach the log files and the monitor and how they read, when the
// queues reach the disk, and the trigger programs that log lines start. A clean module
// state for each test: fresh globals, Log_Dir and DB_Dir in a temporary folder, a registry
// file of the test's own, and a manual clock at kStamp.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>

#include "config/registry.h"
#include "logging/error_policy.h"
#include "logging/log_event.h"
#include "logging/reporter.h"
#include "logging/monitor_link.h"
#include "platform/clock.h"
#include "platform/registry_file.h"
#include "support/temp_dir.h"
#include "support/udp_listener.h"

namespace dexweb::test {
namespace {

class LoggingTest : public ::testing::Test {
 protected:
  static constexpr const char* kStamp = "2024-03-05 14:07:09";

  LoggingTest() {
    reset_process_state();
    registry_settings.Log_Dir = dir.dir();
    registry_settings.DB_Dir = dir.dir();
  }
  ~LoggingTest() override { reset_process_state(); }

  // Writes the Monitor key's value lines, switching the monitor on at port when it is given.
  void set_monitor(const std::string& lines, int port = 0) {
    std::string on = port ? "\"VTM_Enabled\"=\"true\"\r\n\"VTM_Port\"=\"" + std::to_string(port) + "\"\r\n" : "";
    write_text(dir.file("velotrax.reg"), registry_text("", "", on + lines));
    read_monitor_settings(read_registry_settings(platform::RegistryFile(dir.file("velotrax.reg"))));
  }
  // A general report to the log file only.
  static void log_disk(std::string_view text) {
    log_event(LogLevel::General, LogTarget::Disk, LogCategory::General, text);
  }
  std::string queued(int index) { return log_state().disk_log_queue.at(static_cast<std::size_t>(index - 1)).line; }

  TempDir dir;
  RegistrySettings registry_settings;
  ErrorPolicy policy;
  Reporter reporter{registry_settings, &policy};
  ReporterInstall reporter_install{reporter};
  platform::ManualClock clock{platform::from_local(make_datetime(2024, 3, 5, 14, 7, 9))};
  platform::ScopedClock use_clock{clock};
};

// ---- log_event: levels, targets, texts and datagrams ----

using LogEvent = LoggingTest;
using Lines = std::vector<std::string>;

TEST_F(LogEvent, LevelFilterFollowsLogLevelAndResetsTheRetryCounters) {
  policy.make_final();
  log_state().log_level = 1;
  const auto at = [](LogLevel level, const char* text) {
    log_event(level, LogTarget::Disk, LogCategory::General, text);
  };
  at(LogLevel::Detail, "d1");
  at(LogLevel::General, "g1");
  log_state().log_level = 2;
  at(LogLevel::Detail, "d2");
  at(LogLevel::Debug, "x2");
  log_state().log_level = 3;
  at(LogLevel::Debug, "x3");
  EXPECT_EQ(queued_text(log_state().disk_log_queue),
            std::string(kStamp) + "  g1\r\n" + kStamp + "  d2\r\n" + kStamp + "  x3\r\n");
  EXPECT_EQ(policy.retry_count(), 0);
  EXPECT_EQ(policy.retry_round(), 0);
}

TEST_F(LogEvent, TextIsSanitisedAndQueuedPerTarget) {
  log_event(LogLevel::General, LogTarget::Monitor, LogCategory::General, "monitor only");
  log_event(LogLevel::General, LogTarget::Disk | LogTarget::Message, LogCategory::General,
            "a|b\tc\r\n caf\xc3\xa9 \xe2\x82\xac~");
  std::string safe = "a<124>b<9>c<13><10> caf<233> <8364>~";
  EXPECT_EQ(queued_text(log_state().disk_log_queue), std::string(kStamp) + "  " + safe + "\r\n");
  EXPECT_EQ(log_state().message_log_queue.at(0).line, std::string(kStamp) + "  VTXWeb " + safe);
  log_state().log_to_disk = false;
  log_disk("not kept");
  EXPECT_EQ(log_state().disk_log_queue.size(), 1u);
}

TEST_F(LogEvent, DatagramsCarryModuleTimeCategoryAndTruncatedText) {
  UdpListener monitor;
  set_monitor("", monitor.port());
  log_event(LogLevel::General, LogTarget::Monitor | LogTarget::Message, LogCategory::Bad, "a|b");
  std::string long_text(1500, 'x');
  log_general(long_text);
  std::string fields = "|" + std::string(kStamp) + "|bad|a<124>b\r";
  EXPECT_EQ(monitor.receive_all(),
            (Lines{"VTXWeb" + fields, "Velotrax" + fields,
                   "VTXWeb|" + std::string(kStamp) + "|general|" + std::string(1000, 'x') + " (truncated in monitor)\r"}));
  EXPECT_EQ(queued(1), std::string(kStamp) + "  " + long_text);
}

// Datagrams go to the monitors switched on, each at a dotted IPv4 address.
TEST_F(LogEvent, DatagramsGoOnlyToEnabledMonitorsWithADottedAddress) {
  UdpListener monitor;
  const std::string port = "\"VTM_Port\"=\"" + std::to_string(monitor.port()) + "\"\r\n";
  struct Case {
    std::string lines;
    int port;  // switches the monitor on
    std::size_t datagrams;
  };
  for (const Case& c : {Case{port, 0, 0}, Case{"\"VTM_IP2\"=\"127.0.0.300\"\r\n\"VTM_IP3\"=\"localhost\"\r\n", monitor.port(), 1},
                        Case{"\"VTM_IP2\"=\"127.0.0.1\"\r\n", monitor.port(), 2}}) {
    set_monitor(c.lines, c.port);
    log_event(LogLevel::General, LogTarget::Monitor, LogCategory::General, "seen?");
    EXPECT_EQ(monitor.receive_all().size(), c.datagrams) << c.lines;
  }
  for (const char* good : {"10.0.0.3", " 255.255.255.255 ", "0.0.0.0"}) EXPECT_TRUE(is_ipv4(good)) << good;
  for (const char* bad : {"10.0.0.300", "1.2.3", "1.2.3.4.5", "1..2.3", ".1.2.3", "1.2.3.", "a.b.c.d", "localhost"})
    EXPECT_FALSE(is_ipv4(bad)) << bad;
  EXPECT_EQ(resolve_host(" 127.0.0.1 "), "127.0.0.1");
  EXPECT_EQ(resolve_host("  "), "");
}

// ---- the log files ----

using LogFiles = LoggingTest;

std::string line(const std::string& text) { return std::string("2024-03-05 14:07:09  ") + text + "\r\n"; }

TEST_F(LogFiles, FlushAppendsEachQueueToItsFileAndADirectWriteComesAfterQueuedLines) {
  write_text(dir.file("VTXWeb.log"), "earlier\r\n");
  log_disk("one");
  log_event(LogLevel::General, LogTarget::Disk | LogTarget::Message, LogCategory::General, "two");
  log_disk("three");
  flush_log_queues();
  EXPECT_EQ(read_text(dir.file("VTXWeb.log")), "earlier\r\n" + line("one") + line("two") + line("three"));
  EXPECT_EQ(read_text(dir.file("Velotrax.log")), line("VTXWeb two"));
  EXPECT_EQ(log_state().disk_log_queue.size(), 0u);
  // A file the flush creates is for the module's account and its group only.
  struct stat st {};
  ASSERT_EQ(::stat(dir.file("Velotrax.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0137, 0u);

  log_disk("queued first");
  write_log_direct("direct | raw");
  EXPECT_TRUE(read_text(dir.file("VTXWeb.log")).ends_with(line("three") + line("queued first") + line("direct | raw")));
}

// No timer flushes while a poll works: a line is on disk before the module waits, and one
// queued a second after the oldest waiting line takes the queue along.
TEST_F(LogFiles, LinesReachTheDiskBeforeEachWaitAndAtLeastOnceASecond) {
  log_disk("before the wait");
  clock.at(std::chrono::milliseconds(100), [&] {
    EXPECT_EQ(read_text(dir.file("VTXWeb.log")), line("before the wait"));
  });
  wait_or_stop(2);
  log_disk("first");
  clock.advance(std::chrono::milliseconds(999));
  log_disk("second");
  EXPECT_EQ(log_state().disk_log_queue.size(), 2u);
  clock.advance(std::chrono::milliseconds(1));
  log_disk("third");
  EXPECT_EQ(log_state().disk_log_queue.size(), 0u);
  const std::string log = read_text(dir.file("VTXWeb.log"));
  for (const char* text : {"first", "second", "third"}) EXPECT_NE(log.find("  " + std::string(text) + "\r\n"), std::string::npos) << text;
}

TEST_F(LogFiles, LinesWaitWhileTheLogFolderIsMissingAndNeverGoToTheWorkingFolder) {
  std::string later = dir.dir() + "later/";
  registry_settings.Log_Dir = later;
  log_disk("kept");
  flush_log_queues();
  EXPECT_EQ(log_state().disk_log_queue.size(), 1u);
  std::filesystem::create_directory(later);
  flush_log_queues();
  EXPECT_EQ(read_text(later + "VTXWeb.log"), line("kept"));

  registry_settings.Log_Dir.clear();
  EXPECT_EQ(module_log_path(), "/var/log/velotrax/VTXWeb.log");
}

// A full disk takes the first part of an append and refuses the rest: the next flush goes
// on after what reached the file, even when that ends inside a line.
TEST_F(LogFiles, AFlushCutShortByAFullDiskNeverWritesALineTwice) {
  const std::string small = dir.file("small");
  std::filesystem::create_directory(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
  struct Unmount {
    const std::string& at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{small};
  registry_settings.Log_Dir = small + "/";

  int filler = ::open((small + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(filler, 0);
  const std::string page(4096, 'x');
  off_t filled = 0;
  for (ssize_t n; (n = ::write(filler, page.data(), page.size())) > 0;) filled += n;

  std::string expected;
  for (int i = 1; i <= 250; ++i) {
    std::string text = "report " + std::to_string(i) + " of a burst while the disk is full";
    log_disk(text);
    expected += line(text);
  }
  // Space comes back one page at a time, so every flush but the last is cut short.
  int short_flushes = 0;
  for (int round = 0; round < 10 && !log_state().disk_log_queue.empty(); ++round) {
    filled = std::max<off_t>(filled - static_cast<off_t>(page.size()), 0);
    ASSERT_EQ(::ftruncate(filler, filled), 0);
    flush_log_queues();
    if (!log_state().disk_log_queue.empty()) ++short_flushes;
    std::string written = read_text(small + "/VTXWeb.log");
    ASSERT_EQ(written, expected.substr(0, written.size()));
  }
  ::close(filler);
  EXPECT_GE(short_flushes, 2);
  EXPECT_EQ(read_text(small + "/VTXWeb.log"), expected);
}

// ---- log triggers ----

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

// A report's text stays one argument and runs nothing else; the row's placeholders and
// escapes are replaced inside each argument of its command.
TEST_F(LogTriggers, ReportTextStaysOneArgumentAndPlaceholdersAreReplacedInsideEachArgument) {
  trigger_file("VTXWeb,\"ALERT\",\"" + script("rec.sh") + " \\034%module% at %DATETIME%\\034 %Message%\",\"True\"\n");
  std::string hostile = "ALERT %Module% 100% \"a b\" ; touch " + dir.file("pwned") + " $(touch " + dir.file("pwned") +
                        "2) `touch " + dir.file("pwned") + "3` 'q' \\\" && exit";
  log_disk(hostile);
  EXPECT_EQ(received("rec.sh"), "2\n[VTXWeb at 2024-03-05 14:07:09]\n[" + hostile + "]\n");
  for (const char* name : {"pwned", "pwned2", "pwned3"}) EXPECT_FALSE(std::filesystem::exists(dir.file(name)));
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
