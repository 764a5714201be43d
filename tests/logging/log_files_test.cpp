
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "logging/log_event.h"
#include "logging/logging_fixture.h"

namespace dexweb::test {
namespace {

using LogFiles = LoggingTest;

std::string line(const std::string& text) { return std::string("2024-03-05 14:07:09  ") + text + "\r\n"; }

TEST_F(LogFiles, FlushAppendsEachQueueToItsFile) {
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
}

TEST_F(LogFiles, DirectWriteComesAfterQueuedLines) {
  log_disk("queued first");
  write_log_direct("direct | raw");
  EXPECT_EQ(read_text(dir.file("VTXWeb.log")), line("queued first") + line("direct | raw"));
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

// A tmpfs of 64 KiB mounted for one test, unmounted at its end.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(std::string folder) : folder_(std::move(folder)) {
    std::filesystem::create_directory(folder_);
    mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", 0, "size=64k") == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};

// A full disk takes the first part of an append and refuses the rest: the next flush goes
// on after what reached the file, even when that ends inside a line.
TEST_F(LogFiles, AFlushCutShortByAFullDiskNeverWritesALineTwice) {
  std::string small = dir.file("small");
  SmallFileSystem fs(small);
  if (!fs.mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
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

}  // namespace
}  // namespace dexweb::test
