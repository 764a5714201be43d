// The filters through a real program, Prog_Dir + "vtfilter", a shell script of the test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "intake/filter_fixture.h"
#include "support/temp_dir.h"

namespace dexweb::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// The file concerned is the last argument.
constexpr const char* kLastArgument = "for f; do :; done\n";

class FilterProgram : public FilterTest {
 protected:
  std::vector<std::string> recorded_arguments() {
    std::vector<std::string> args;
    std::string text = read_text(work.file("args"));
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      args.push_back(text.substr(start, end - start));
    return args;
  }
  void record_arguments() { install_program("for a; do printf '%s\\n' \"$a\" >> '" + work.file("args") + "'; done\n"); }
  const std::string raw = "rawinterfacefilter=<settings>";
  const std::string interface = "interfacefilter=<settings>";
};

TEST_F(FilterProgram, EachItemIsOneArgumentWithoutAShell) {
  record_arguments();
  msg.file_name = "it's $(x) a.msg";
  set_web_text("user=bob\r\nmsg=hi");
  run_raw_interface_filter(settings(raw + "\r\nrawinterfacefilterdebugfile=/logs/my log.txt /append"), ctx, msg);
  const std::vector<std::string> args = recorded_arguments();
  ASSERT_EQ(args.size(), 4u);
  EXPECT_THAT(args, ElementsAre("settingsfile=" + filter_settings(), "debugfile=/logs/my log.txt", "debugappend=true",
                                StartsWith(ctx.temp_folder + "VTXWeb")));
  std::filesystem::remove(work.file("args"));
  run_raw_interface_filter(settings(raw), ctx, msg);
  EXPECT_THAT(recorded_arguments(), ElementsAre("settingsfile=" + filter_settings(), StartsWith(ctx.temp_folder)));
  EXPECT_EQ(msg.content, "user=bob\r\nmsg=hi");
  EXPECT_TRUE(temp_folder_empty());
}

TEST_F(FilterProgram, TheRawFilterGetsAPrivateCopyOfTheBytesReadNeverTheWebFile) {
  // The exit status is no answer: the changed file is read back whatever it is.
  install_program(std::string(kLastArgument) + "tr a-z A-Z < \"$f\" > \"$f.new\" && mv \"$f.new\" \"$f\"\nexit 3\n");
  msg.bytes = "user=bob\r\nmsg=as read";
  write_text(web_path(), "user=eve\r\nmsg=replaced since");
  run_raw_interface_filter(settings(raw), ctx, msg);
  EXPECT_EQ(msg.content, "USER=BOB\r\nMSG=AS READ");
  EXPECT_EQ(read_text(web_path()), "user=eve\r\nmsg=replaced since");
  EXPECT_FALSE(msg.filter_aborted);
  EXPECT_TRUE(temp_folder_empty());
}

TEST_F(FilterProgram, InterfaceFilterGetsTheFieldsInATempFileThatIsRemoved) {
  install_program(std::string(kLastArgument) + "cp \"$f\" '" + work.file("seen") +
                  "'\nprintf 'alice\\nsomeone\\nnew text' > \"$f\"\n");
  set_fields("bob", "me", "hello\r\nthere");
  run_interface_filter(settings(interface), ctx, msg);
  EXPECT_EQ(read_text(work.file("seen")), "bob\r\nme\r\nhello\r\nthere\r\n");
  EXPECT_EQ(msg.user, "alice");
  EXPECT_EQ(msg.frm, "someone");
  EXPECT_EQ(msg.message, "new text");
  EXPECT_EQ(msg.original_recipient, "bob");
  EXPECT_TRUE(temp_folder_empty());
}

TEST_F(FilterProgram, DeletedOrEmptiedFileAborts) {
  install_program(std::string(kLastArgument) + "rm \"$f\"\n");
  run_raw_interface_filter(settings(raw), ctx, msg);
  EXPECT_TRUE(msg.filter_aborted);
  EXPECT_THAT(logged(), Contains(kAborted));

  install_program(std::string(kLastArgument) + ": > \"$f\"\n");
  msg.filter_aborted = false;
  set_fields("bob", "me", "hi");
  run_interface_filter(settings(interface), ctx, msg);
  EXPECT_TRUE(msg.filter_aborted);
  EXPECT_TRUE(temp_folder_empty());
}

TEST_F(FilterProgram, AProgramThatCannotStartOrCrashesLeavesTheMessageUnchanged) {
  install_program(std::string(kLastArgument) + "rm \"$f\"\n", false);
  run_raw_interface_filter(settings(raw), ctx, msg);
  std::vector<std::string> lines = logged();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_THAT(lines[1], HasSubstr("Unable to apply Raw Interface Filter: Permission denied"));
  EXPECT_EQ(lines[2], kLeftUnchanged);
  EXPECT_FALSE(msg.filter_aborted);
  EXPECT_TRUE(read_text(web_path()) == msg.content);

  install_program(std::string(kLastArgument) + ": > \"$f\"\nkill -9 $$\n");
  set_fields("bob", "me", "hi");
  run_interface_filter(settings(interface), ctx, msg);
  EXPECT_THAT(logged(),
              Contains("Unable to apply Interface Filter: " + prog.file("vtfilter") + " was ended by signal 9"));
  EXPECT_FALSE(msg.filter_aborted);
  EXPECT_EQ(msg.user, "bob");
  EXPECT_TRUE(temp_folder_empty());
}

TEST_F(FilterProgram, AHangingProgramIsStoppedAtTheLimit) {
  install_program("sleep 30\n");
  ctx.ProgramTimeLimit = std::chrono::seconds(1);
  set_fields("bob", "me", "hi");
  auto start = std::chrono::steady_clock::now();
  run_interface_filter(settings(interface), ctx, msg);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_THAT(logged(), ElementsAre("Applying filter: " + filter_settings(),
                                    "Unable to apply Interface Filter: " + prog.file("vtfilter") +
                                        " did not end within 1 seconds and was stopped",
                                    kLeftUnchanged));
  EXPECT_EQ(msg.user, "bob");
  EXPECT_EQ(msg.message, "hi");
  EXPECT_FALSE(msg.filter_aborted);
  EXPECT_TRUE(temp_folder_empty());
}

TEST_F(FilterProgram, MissingProgramSkipsTheFilter) {
  run_raw_interface_filter(settings(raw), ctx, msg);
  EXPECT_THAT(logged(), Contains("Unable to apply Raw Interface Filter - vtfilter not found"));
  EXPECT_EQ(msg.content, "user=bob\r\nmsg=hello");
}

}  // namespace
}  // namespace dexweb::test
