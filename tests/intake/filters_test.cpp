// The filters through a real shared library loaded as Prog_Dir + "vtfilter.so" and through a
// real program, Prog_Dir + "vtfilter", a shell script of the test. Each test has fresh
// globals, a Prog_Dir, a watched folder holding one web file, a temporary folder, and the
// detail log lines the filters wrote.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "config/interface_settings.h"
#include "config/registry.h"
#include "intake/internal/filters.h"
#include "logging/error_policy.h"
#include "logging/reporter.h"
#include "support/temp_dir.h"

namespace dexweb::test {
namespace {

constexpr const char* kAborted = "Message aborted - the filter has deleted the original message";
constexpr const char* kLeftUnchanged = "Error running filter - leaving the message unchanged";

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// The program's file concerned is its last argument; this puts it in $f.
constexpr const char* kLastArgument = "for f; do :; done\n";
constexpr const char* kUpperCaseFile = "tr a-z A-Z < \"$f\" > \"$f.new\" && mv \"$f.new\" \"$f\"\n";

// How a filter is reached: the library with the text in its buffer or working on the file
// concerned, or the program, which always works on the file.
struct Way {
  const char* name;
  bool library, on_file;
};
constexpr Way kLibraryText{"library, text", true, false}, kLibraryFile{"library, file", true, true},
    kProgram{"program", false, true};

class Filters : public ::testing::Test {
 protected:
  Filters() {
    reset_process_state();
    registry.DB_Dir = work.dir();
    ctx.prog_dir = prog.dir();
    ctx.temp_folder = temp.dir();
    msg.file_name = "a.msg";
    set_web_text("user=bob\r\nmsg=hello");
  }
  ~Filters() override { reset_process_state(); }

  std::string web_path() const { return watched.file(msg.file_name); }
  void set_web_text(const std::string& text) {
    write_text(web_path(), text);
    msg.bytes = msg.content = msg.original_content = text;
  }
  // Parsed settings text; "<settings>" stands for the path of a filter settings file that
  // holds mode.
  InterfaceSettings settings(const std::string& lines, const std::string& mode = "") {
    write_text(filter_settings(), mode);
    std::string text = lines;
    for (std::size_t at; (at = text.find("<settings>")) != std::string::npos;)
      text.replace(at, 10, filter_settings());
    InterfaceSettings s;
    parse_settings(s, text, "", "");
    return s;
  }
  std::string filter_settings() const { return work.file("filter settings.txt"); }

  // Renamed into place: a copy loaded earlier stays mapped, and overwriting it would crash.
  void install_library() {
    std::filesystem::copy_file(DEXWEB_TEST_FILTER_LIBRARY, prog.file("vtfilter.so.new"),
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::rename(prog.file("vtfilter.so.new"), prog.file("vtfilter.so"));
  }
  void install_program(const std::string& script, bool executable = true) {
    write_text(prog.file("vtfilter"), "#!/bin/sh\n" + script);
    using std::filesystem::perms;
    perms mode = executable ? perms::owner_all : perms::owner_read | perms::owner_write;
    std::filesystem::permissions(prog.file("vtfilter"), mode);
  }
  void set_fields(const std::string& user, const std::string& frm, const std::string& message) {
    msg.user = msg.original_recipient = user;
    msg.frm = msg.sender = frm;
    msg.message = message;
  }

  // The texts of the log lines written so far.
  std::vector<std::string> logged() const {
    std::vector<std::string> lines;
    for (const QueuedLine& q : log_state().disk_log_queue) lines.push_back(q.line.substr(q.line.find("  ") + 2));
    return lines;
  }
  bool temp_folder_empty() const { return std::filesystem::is_empty(temp.dir()); }

  // The settings of the raw or the interface filter reached that way. The action is a mode of
  // the test library, or the program's script once its file is in $f.
  InterfaceSettings reach(const Way& way, bool raw, const std::string& action) {
    const std::string key = raw ? "rawinterfacefilter=<settings>" : "interfacefilter=<settings>";
    if (!way.library) {
      install_program(kLastArgument + action);
      return settings(key);
    }
    install_library();
    return settings(key + "\r\nusefilterdll=true" + (way.on_file ? "\r\nusefilterdllfile=true" : ""), action);
  }
  void run(bool raw, const InterfaceSettings& s) {
    if (raw) run_raw_interface_filter(s, ctx, msg);
    else run_interface_filter(s, ctx, msg);
  }

  const std::string raw_text_mode = "rawinterfacefilter=<settings>\r\nusefilterdll=true";

  TempDir prog, work, watched, temp;
  RegistrySettings registry;
  ErrorPolicy policy;
  Reporter reporter{registry, &policy};
  ReporterInstall reporter_install{reporter};
  FilterContext ctx;
  WebMessage msg;
};

// Every way, each filter: the answer replaces the content or the fields, never the web file
// nor the names the logs give, and no file of the filter's stays behind.
TEST_F(Filters, TheAnswerReplacesTheContentOrTheFields) {
  for (const Way& way : {kLibraryText, kLibraryFile, kProgram}) {
    SCOPED_TRACE(way.name);
    const std::string action = !way.library ? kUpperCaseFile : way.on_file ? "file-upper" : "upper";
    set_web_text("user=bob\r\nmsg=hello");
    log_state().disk_log_queue.clear();
    run(true, reach(way, true, action));
    EXPECT_EQ(msg.content, "USER=BOB\r\nMSG=HELLO");
    EXPECT_EQ(msg.original_content, "user=bob\r\nmsg=hello");
    EXPECT_EQ(read_text(web_path()), "user=bob\r\nmsg=hello");
    EXPECT_FALSE(msg.filter_aborted);
    EXPECT_THAT(logged(), ElementsAre("Applying raw interface filter: " + filter_settings()));

    set_fields("bob", "me@example.org", "hello\r\nsecond line");
    log_state().disk_log_queue.clear();
    run(false, reach(way, false, action));
    EXPECT_EQ(msg.user, "BOB");
    EXPECT_EQ(msg.frm, "ME@EXAMPLE.ORG");
    // The file concerned is written with a closing line break, which the answer keeps.
    EXPECT_EQ(msg.message, way.on_file ? "HELLO\r\nSECOND LINE\r\n" : "HELLO\r\nSECOND LINE");
    EXPECT_EQ(msg.original_recipient, "bob");
    EXPECT_EQ(msg.sender, "me@example.org");
    EXPECT_THAT(logged(), ElementsAre("Applying filter: " + filter_settings()));
    EXPECT_TRUE(temp_folder_empty());
  }
}

TEST_F(Filters, AnEmptyAnswerOrADeletedOrEmptiedFileAbortsEitherFilter) {
  struct Case {
    Way way;
    bool raw;
    const char* action;
  };
  for (const Case& c : {Case{kLibraryText, true, "abort"}, Case{kLibraryFile, true, "file-delete"},
                        Case{kLibraryText, false, "abort"}, Case{kLibraryFile, false, "file-delete"},
                        Case{kProgram, true, "rm \"$f\"\n"}, Case{kProgram, false, ": > \"$f\"\n"}}) {
    SCOPED_TRACE(std::string(c.way.name) + (c.raw ? ", raw: " : ": ") + c.action);
    msg.filter_aborted = false;
    set_fields("bob", "me", "hi");
    run(c.raw, reach(c.way, c.raw, c.action));
    EXPECT_TRUE(msg.filter_aborted);
    EXPECT_EQ(logged().back(), kAborted);
    EXPECT_EQ(msg.user, "bob");
    EXPECT_TRUE(temp_folder_empty());
  }
}

// A missing piece skips the filter with one line; a library that cannot be loaded or a
// program that cannot start or crashes leaves the message unchanged after two more. Each is
// said on standard error as well.
TEST_F(Filters, AMissingOrFailingPieceLeavesTheMessageUnchanged) {
  struct Case {
    const char* what;
    Way way;
    bool raw;
    std::function<void()> spoil;
    std::string line;  // the start of the line after the "Applying" one
    bool left_unchanged;
  };
  // The unloadable library first: one loaded earlier in the process is found again by its path.
  const std::vector<Case> cases{
      {"no library", kLibraryText, true, [&] { write_text(prog.file("vtfilter.so"), "not a library"); },
       "Unable to apply Raw Interface Filter: Error in loading DLL", true},
      {"settings file", kLibraryText, true, [&] { std::filesystem::remove(filter_settings()); },
       "Unable to apply Raw Interface Filter - " + filter_settings() + " not found", false},
      {"library", kLibraryText, false, [&] { std::filesystem::remove(prog.file("vtfilter.so")); },
       "Unable to apply Interface Filter - vtfilter.so not found", false},
      {"program", kProgram, true, [&] { std::filesystem::remove(prog.file("vtfilter")); },
       "Unable to apply Raw Interface Filter - vtfilter not found", false},
      {"not executable", kProgram, true, [&] { install_program(std::string(kLastArgument) + "rm \"$f\"\n", false); },
       "Unable to apply Raw Interface Filter: Permission denied", true},
      {"crash", kProgram, false, [&] { install_program(std::string(kLastArgument) + ": > \"$f\"\nkill -9 $$\n"); },
       "Unable to apply Interface Filter: " + prog.file("vtfilter") + " was ended by signal 9", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    set_web_text("user=bob\r\nmsg=hello");
    set_fields("bob", "me", "hi");
    log_state().disk_log_queue.clear();
    const InterfaceSettings s = reach(c.way, c.raw, c.way.library ? "abort" : "rm \"$f\"\n");
    c.spoil();
    ::testing::internal::CaptureStderr();
    run(c.raw, s);
    const std::string said = ::testing::internal::GetCapturedStderr();
    const std::vector<std::string> lines = logged();
    ASSERT_EQ(lines.size(), c.left_unchanged ? 3u : 2u);
    EXPECT_THAT(lines[1], StartsWith(c.line));
    // The journal of a service hears of a message left unfiltered, not only the log file.
    EXPECT_THAT(said, StartsWith("VTXWeb: " + c.line));
    if (c.left_unchanged) {
      EXPECT_EQ(lines[2], kLeftUnchanged);
    }
    EXPECT_EQ(msg.content, "user=bob\r\nmsg=hello");
    EXPECT_EQ(msg.user, "bob");
    EXPECT_FALSE(msg.filter_aborted);
    EXPECT_TRUE(temp_folder_empty());
  }
}

TEST_F(Filters, NothingHappensWithoutTheKey) {
  install_library();
  run_raw_interface_filter(settings("usefilterdll=true\r\ninterfacefilter=<settings>", "abort"), ctx, msg);
  run_interface_filter(settings("usefilterdll=true\r\nrawinterfacefilter=<settings>", "abort"), ctx, msg);
  EXPECT_TRUE(logged().empty());
  EXPECT_FALSE(msg.filter_aborted);
}

// ---- the library's exchange buffer ----

// The buffer names the debug file, the append flag and the file concerned (a temporary file,
// none left behind), then the text: the raw filter's content, or the interface filter's fields.
TEST_F(Filters, TheLibraryBufferCarriesThePathsTheAppendFlagAndTheText) {
  install_library();
  run_raw_interface_filter(settings(raw_text_mode + "\r\nrawinterfacefilterdebugfile=/logs/f.log /Append", "echo"), ctx,
                           msg);
  EXPECT_THAT(msg.content, StartsWith("debug=/logs/f.log|append=1|file=" + ctx.temp_folder + "VTXWeb"));
  EXPECT_THAT(msg.content, EndsWith(".txt|text=user=bob\r\nmsg=hello"));
  // A folder named append is part of the path, not the option.
  run_raw_interface_filter(settings(raw_text_mode + "\r\nrawinterfacefilterdebugfile=/var/append/f.log", "echo"), ctx,
                           msg);
  EXPECT_THAT(msg.content, HasSubstr("debug=/var/append/f.log|append=0|"));

  set_fields("bob", "me", "hi");
  run_interface_filter(reach(kLibraryText, false, "echo"), ctx, msg);
  // The echo has no line break after its first line: the whole answer is the recipient.
  EXPECT_THAT(msg.user, HasSubstr("|file=" + ctx.temp_folder + "VTXWeb"));
  EXPECT_THAT(msg.user, HasSubstr(".txt|text=bob"));
  EXPECT_TRUE(temp_folder_empty());
}

// A library the loader keeps loaded is loaded once, however many messages it filters; one
// renamed over it, as an upgrade does, is what the next message gets.
TEST_F(Filters, AReplacedLibraryRunsFromTheNextMessageOn) {
  const InterfaceSettings s = reach(kLibraryText, true, "count");
  for (const char* calls : {"1", "2"}) {
    run_raw_interface_filter(s, ctx, msg);
    EXPECT_EQ(msg.content, calls);
  }
  install_library();
  run_raw_interface_filter(s, ctx, msg);
  EXPECT_EQ(msg.content, "1");
  EXPECT_TRUE(temp_folder_empty());
}

// The text goes in cut with a warning, and an answer is read only to the text field's end
// (the end of the buffer is zeroed first: a library that fills it is read no further).
TEST_F(Filters, TheLibrarysTextIsBoundedByItsField) {
  run_raw_interface_filter(reach(kLibraryText, true, "fill"), ctx, msg);
  EXPECT_EQ(msg.content, std::string(FilterBuffer::kTextSize, 'x'));

  const InterfaceSettings s = reach(kLibraryText, true, "upper");
  set_web_text(std::string(15301, 'a'));
  run_raw_interface_filter(s, ctx, msg);
  EXPECT_THAT(logged(), Contains("Warning: filter input text > 15300 characters - truncated"));
  EXPECT_EQ(msg.content, std::string(15301, 'A'));
  set_web_text(std::string(16000, 'a'));
  run_raw_interface_filter(s, ctx, msg);
  EXPECT_EQ(msg.content, std::string(FilterBuffer::kTextSize - 1, 'A'));
}

TEST(FilterBufferLayout, FieldsAreCutWithoutSplittingACharacter) {
  std::string text = std::string(FilterBuffer::kTextSize - 2, 'a') + "\xC3\xA9";  // é across the field's end
  FilterCall call{std::string(300, 's'), DebugTarget{"d", true}, "f", text};
  FilterBuffer buffer(call);
  const unsigned char* b = buffer.data();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b)), std::string(199, 's'));
  EXPECT_EQ(b[400], 1);
  EXPECT_EQ(buffer.take_answer(), std::string(FilterBuffer::kTextSize - 2, 'a'));
}

// ---- the program ----

TEST_F(Filters, EachProgramArgumentIsOneItemWithoutAShell) {
  install_program("for a; do printf '%s\\n' \"$a\" >> '" + work.file("args") + "'; done\n");
  // The arguments of the program's last run, one a line.
  const auto recorded_arguments = [&] {
    std::vector<std::string> args;
    std::istringstream lines(read_text(work.file("args")));
    for (std::string line; std::getline(lines, line);) args.push_back(line);
    std::filesystem::remove(work.file("args"));
    return args;
  };
  msg.file_name = "it's $(x) a.msg";
  set_web_text("user=bob\r\nmsg=hi");
  run_raw_interface_filter(settings("rawinterfacefilter=<settings>\r\nrawinterfacefilterdebugfile=/logs/my log.txt /append"),
                           ctx, msg);
  EXPECT_THAT(recorded_arguments(), ElementsAre("settingsfile=" + filter_settings(), "debugfile=/logs/my log.txt",
                                                "debugappend=true", StartsWith(ctx.temp_folder + "VTXWeb")));
  run_raw_interface_filter(settings("rawinterfacefilter=<settings>"), ctx, msg);
  EXPECT_THAT(recorded_arguments(), ElementsAre("settingsfile=" + filter_settings(), StartsWith(ctx.temp_folder)));
  EXPECT_EQ(msg.content, "user=bob\r\nmsg=hi");
  EXPECT_TRUE(temp_folder_empty());
}

TEST_F(Filters, TheRawFilterGetsAPrivateCopyOfTheBytesReadNeverTheWebFile) {
  // The exit status is no answer: the changed file is read back whatever it is.
  const InterfaceSettings s = reach(kProgram, true, std::string(kUpperCaseFile) + "exit 3\n");
  msg.bytes = "user=bob\r\nmsg=as read";
  write_text(web_path(), "user=eve\r\nmsg=replaced since");
  run_raw_interface_filter(s, ctx, msg);
  EXPECT_EQ(msg.content, "USER=BOB\r\nMSG=AS READ");
  EXPECT_EQ(read_text(web_path()), "user=eve\r\nmsg=replaced since");
  EXPECT_FALSE(msg.filter_aborted);
  EXPECT_TRUE(temp_folder_empty());
}

TEST_F(Filters, TheProgramGetsTheInterfaceFieldsInATempFileAndMayAnswerWithLfLines) {
  install_program(std::string(kLastArgument) + "cp \"$f\" '" + work.file("seen") +
                  "'\nprintf 'alice\\nsomeone\\nnew text' > \"$f\"\n");
  set_fields("bob", "me", "hello\r\nthere");
  run_interface_filter(settings("interfacefilter=<settings>"), ctx, msg);
  EXPECT_EQ(read_text(work.file("seen")), "bob\r\nme\r\nhello\r\nthere\r\n");
  EXPECT_EQ(msg.user, "alice");
  EXPECT_EQ(msg.frm, "someone");
  EXPECT_EQ(msg.message, "new text");
  EXPECT_EQ(msg.original_recipient, "bob");
  EXPECT_TRUE(temp_folder_empty());
}

TEST_F(Filters, AHangingProgramIsStoppedAtTheLimit) {
  install_program("sleep 30\n");
  ctx.ProgramTimeLimit = std::chrono::seconds(1);
  set_fields("bob", "me", "hi");
  auto start = std::chrono::steady_clock::now();
  run_interface_filter(settings("interfacefilter=<settings>"), ctx, msg);
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

}  // namespace
}  // namespace dexweb::test
