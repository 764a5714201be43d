// The watched folder: which files a poll takes, in what order, and what it leaves there. It
// is written by another account and, on a real site, by anything that can write there: names,
// links, held files, huge files and failing copies must never cost a message, leak a file or
// stall the files behind them.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "intake/file_holders.h"
#include "intake/intake_harness.h"
#include "intake/refusals.h"

namespace dexweb::test {
namespace {

namespace fs = std::filesystem;

class HostileFolder : public IntakeTest {
 protected:
  void SetUp() override { h.add_user("sales"); }

  std::vector<std::string> messages() {
    std::vector<std::string> texts;
    for (const MessageRow& row : h.rows()) texts.push_back(row.message);
    std::sort(texts.begin(), texts.end());
    return texts;
  }
  static mode_t mode_of(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
  }
};

// Only ".msg" files are taken, in any case; "*" and "?" are ordinary characters of a name.
TEST_F(HostileFolder, OnlyMessageFilesAreTakenAndWildcardCharactersAreOrdinary) {
  h.write_web_file("*.msg", "user=sales\r\nmsg=star\r\n", 60);
  h.write_web_file("?.msg", "user=sales\r\nmsg=question\r\n", 50);
  h.write_web_file("upper.MSG", "user=sales\r\nmsg=upper\r\n");
  h.write_web_file("half.msg.tmp123", "user=sales\r\nmsg=half\r\n");
  for (int i = 0; i < 5; ++i) h.write_web_file("m" + std::to_string(i) + ".msg", "user=sales\r\nmsg=m" + std::to_string(i) + "\r\n");
  EXPECT_TRUE(h.poll());
  EXPECT_FALSE(h.poll());
  EXPECT_EQ(messages(), (std::vector<std::string>{"m0", "m1", "m2", "m3", "m4", "question", "star", "upper"}));
  EXPECT_EQ(h.web_files(), std::vector<std::string>{"half.msg.tmp123"});
}

TEST_F(HostileFolder, LinksAndOtherEntriesAreNeverFollowedOrRead) {
  TempDir outside;
  write_text(outside.file("SqlServerConnectionString.txt"), "user=sales\r\nmsg=Password=secret\r\n");
  fs::create_symlink(outside.file("SqlServerConnectionString.txt"), h.web.file("conn.msg"));
  fs::create_symlink("/proc/self/environ", h.web.file("env.msg"));
  fs::create_symlink(outside.dir(), h.web.file("folder.msg"));
  ASSERT_EQ(::mkfifo(h.web.file("pipe.msg").c_str(), 0666), 0);
  h.write_message("good.msg", "sales", "", "good");

  EXPECT_TRUE(h.poll());
  EXPECT_FALSE(h.poll());
  EXPECT_EQ(messages(), std::vector<std::string>{"good"});
  EXPECT_TRUE(h.bad_copies().empty());
  EXPECT_EQ(h.web_files(), (std::vector<std::string>{"conn.msg", "env.msg", "folder.msg", "pipe.msg"}));
  for (const char* name : {"conn.msg", "env.msg", "folder.msg", "pipe.msg"})
    EXPECT_EQ(h.count_logged("Not a regular file, left alone: " + h.web.file(name)), 1) << name;
  for (const std::string& line : h.log_lines()) EXPECT_EQ(line.find("secret"), std::string::npos) << line;
}

TEST_F(HostileFolder, AHeldFileIsSkippedAndTheFilesBehindItAreWorked) {
  const std::string held = h.write_web_file("a.msg", "user=sales\r\nmsg=held\r\n", 60);
  for (int i = 0; i < 7; ++i) h.write_web_file("b" + std::to_string(i) + ".msg", "user=sales\r\nmsg=b" + std::to_string(i) + "\r\n");
  {
    WriterHold writer(held);
    EXPECT_TRUE(h.poll());
    EXPECT_EQ(h.rows().size(), 7u);
    EXPECT_EQ(h.web_files(), std::vector<std::string>{"a.msg"});
    EXPECT_TRUE(h.poll());
    EXPECT_TRUE(h.poll());
    EXPECT_EQ(h.count_logged("Web file still open by its writer, left for a later poll: a.msg"), 1);
    EXPECT_FALSE(h.logged("Working on message: a.msg"));
  }
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(h.rows().size(), 8u);
  EXPECT_TRUE(h.web_files().empty());
}

TEST_F(HostileFolder, ARefusedFileStaysUntilItsBadCopyCanBeMade) {
  EXPECT_EQ(bad_folder(h.registry), h.logs.dir() + "badmsg/");
  write_text(h.logs.file("plain"), "");
  h.registry.Log_Dir = h.logs.file("plain") + "/";  // no folder can exist below a file
  const std::string bytes = "frm=Pat\r\nmsg=no user\r\n";
  h.write_web_file("a.msg", bytes);
  EXPECT_TRUE(h.poll());
  EXPECT_TRUE(h.logged("Unable to copy web file to bad folder."));
  EXPECT_EQ(h.count_logged("The web file stays in the folder until its bad copy can be made: " + h.web.file("a.msg")), 1);
  EXPECT_EQ(h.claimed_files().size(), 1u);
  EXPECT_FALSE(h.poll());
  const auto lines = h.log_lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("Message rejected."); }), 1);

  fs::remove(h.logs.file("plain"));  // the missing folders are made
  EXPECT_FALSE(h.poll());
  ASSERT_EQ(files_in(h.logs.file("plain") + "/badmsg").size(), 1u);
  const std::string copy = h.logs.file("plain") + "/badmsg/" + files_in(h.logs.file("plain") + "/badmsg")[0];
  EXPECT_EQ(read_text(copy), bytes);
  EXPECT_TRUE(h.logged("Bad copy made: " + copy));
  EXPECT_TRUE(h.claimed_files().empty());

  h.registry.Log_Dir.clear();
  EXPECT_EQ(bad_folder(h.registry), "/var/log/velotrax/badmsg/");
}

TEST_F(HostileFolder, AFullDiskLeavesNoPartialCopyAndLosesNoFile) {
  const std::string small = h.logs.file("small");
  fs::create_directory(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "cannot mount a small tmpfs here";
  h.registry.Log_Dir = small + "/";
  h.write_web_file("big.msg", "frm=Pat\r\nmsg=" + std::string(200000, 'x') + "\r\n");
  EXPECT_TRUE(h.poll());
  EXPECT_TRUE(h.logged("Unable to copy web file to bad folder."));
  EXPECT_TRUE(files_in(small + "/badmsg").empty());
  EXPECT_EQ(h.claimed_files().size(), 1u);
  ::umount(small.c_str());
}

TEST_F(HostileFolder, ACopyHoldsWhatWasReadAndOnlyTheAccountsGroupMayReadIt) {
  const std::string sparse = h.web.file("sparse.msg");
  write_text(sparse, "frm=Pat\r\nmsg=hi\r\n");
  fs::resize_file(sparse, std::uintmax_t{2} << 30);
  EXPECT_TRUE(h.poll());
  ASSERT_EQ(h.bad_copies().size(), 1u);
  const std::string copy = h.logs.dir() + "badmsg/" + h.bad_copies()[0];
  EXPECT_EQ(fs::file_size(copy), std::uintmax_t{1} << 20);
  EXPECT_TRUE(h.logged("The bad copy holds only the first 1048576 bytes of the web file: " + copy));
  EXPECT_TRUE(h.web_files().empty());
  EXPECT_EQ(mode_of(copy) & 0137, 0u);
}

// ---- how the scan takes files: which, in what order, and what it leaves there ----

using FolderScan = HostileFolder;

// A poll takes a hundred files, oldest first: without the folder watch the first hundred of
// the listing, with it (the index it keeps) the hundred oldest of the folder wherever they
// are listed, and an older file that lands behind the backlog goes before it.
TEST_F(FolderScan, AHundredFilesAreTakenPerPollOldestFirst) {
  for (const bool watched : {false, true}) {
    SCOPED_TRACE(watched ? "with the folder watch" : "listed");
    FolderIndex index;
    h.folder_index = watched ? &index : nullptr;
    h.database->exec("DELETE FROM messages");
    std::map<std::string, int> age_of;  // message text -> age of its file
    for (int i = 0; i < 150; ++i) {
      const int age = 1000 + (i * 7919) % 150;  // distinct ages in scrambled order
      const std::string text = "m" + std::to_string(i);
      h.write_web_file("f" + std::to_string(i) + ".msg", "user=sales\r\nmsg=" + text + "\r\n", age);
      age_of[text] = age;
    }
    EXPECT_TRUE(h.poll());
    auto rows = h.rows();
    ASSERT_EQ(rows.size(), 100u);
    EXPECT_EQ(h.web_files().size(), 50u);
    for (std::size_t i = 1; i < rows.size(); ++i)
      EXPECT_GT(age_of[rows[i - 1].message], age_of[rows[i].message]) << "row " << i;
    if (watched) {
      EXPECT_EQ(age_of[rows.back().message], 1050);
      h.write_web_file("late.msg", "user=sales\r\nmsg=late\r\n", 5000);
      index.landed({"late.msg"});
    }

    EXPECT_TRUE(h.poll());
    rows = h.rows();
    EXPECT_EQ(rows.size(), watched ? 151u : 150u);
    if (watched) {
      EXPECT_EQ(rows[100].message, "late");
    }
    EXPECT_FALSE(h.poll());
  }
  h.folder_index = nullptr;
}

// A folder that cannot be reached is reported on the first poll only; one named without its
// ending slash still names its files.
TEST_F(FolderScan, AnUnreachableFolderAndOneWithoutItsEndingSlash) {
  h.settings.dexwebcgi_path = h.web.dir() + "missing/";
  EXPECT_FALSE(h.poll());
  EXPECT_FALSE(h.poll());
  EXPECT_EQ(h.count_logged("Unable to access folder: " + h.web.dir() + "missing/"), 1);

  h.settings.dexwebcgi_path = h.web.dir().substr(0, h.web.dir().size() - 1);
  h.write_message("a.msg", "sales", "", "hi");
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(h.rows().size(), 1u);
  EXPECT_TRUE(h.web_files().empty());
}

}  // namespace
}  // namespace dexweb::test
