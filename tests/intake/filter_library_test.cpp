// The filters through a real shared library loaded as Prog_Dir + "vtfilter.so".
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "intake/internal/filter_call.h"
#include "intake/filter_fixture.h"
#include "support/temp_dir.h"

namespace dexweb::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::EndsWith;
using ::testing::StartsWith;

class FilterLibrary : public FilterTest {
 protected:
  FilterLibrary() { install_library(); }
  const std::string raw_text_mode = "rawinterfacefilter=<settings>\r\nusefilterdll=true";
  const std::string raw_file_mode = raw_text_mode + "\r\nusefilterdllfile=true";
  const std::string text_mode = "interfacefilter=<settings>\r\nusefilterdll=true";
  const std::string file_mode = text_mode + "\r\nusefilterdllfile=true";
};

TEST_F(FilterLibrary, RawFilterAnswerBecomesTheContent) {
  run_raw_interface_filter(settings(raw_text_mode, "upper"), ctx, msg);
  EXPECT_EQ(msg.content, "USER=BOB\r\nMSG=HELLO");
  EXPECT_EQ(msg.original_content, "user=bob\r\nmsg=hello");
  EXPECT_FALSE(msg.filter_aborted);
  EXPECT_THAT(logged(), ElementsAre("Applying raw interface filter: " + filter_settings()));
}

TEST_F(FilterLibrary, BufferCarriesThePathsTheAppendFlagAndTheText) {
  run_raw_interface_filter(settings(raw_text_mode + "\r\nrawinterfacefilterdebugfile=/logs/f.log /Append", "echo"), ctx,
                           msg);
  EXPECT_THAT(msg.content, StartsWith("debug=/logs/f.log|append=1|file=" + ctx.temp_folder + "VTXWeb"));
  EXPECT_THAT(msg.content, EndsWith(".txt|text=user=bob\r\nmsg=hello"));
  // A folder named append is part of the path, not the option.
  run_raw_interface_filter(settings(raw_text_mode + "\r\nrawinterfacefilterdebugfile=/var/append/f.log", "echo"), ctx,
                           msg);
  EXPECT_THAT(msg.content, HasSubstr("debug=/var/append/f.log|append=0|"));
}

TEST_F(FilterLibrary, InterfaceFilterReplacesTheFieldsButNotTheNamesInLogs) {
  set_fields("bob", "me@example.org", "hello\r\nsecond line");
  run_interface_filter(settings(text_mode, "upper"), ctx, msg);
  EXPECT_EQ(msg.user, "BOB");
  EXPECT_EQ(msg.frm, "ME@EXAMPLE.ORG");
  EXPECT_EQ(msg.message, "HELLO\r\nSECOND LINE");
  EXPECT_EQ(msg.original_recipient, "bob");
  EXPECT_EQ(msg.sender, "me@example.org");
  EXPECT_THAT(logged(), ElementsAre("Applying filter: " + filter_settings()));
}

TEST_F(FilterLibrary, InterfaceTextModeNamesATempFileButLeavesNoneBehind) {
  set_fields("bob", "me", "hi");
  run_interface_filter(settings(text_mode, "echo"), ctx, msg);
  // The echo has no line break after its first line: the whole answer is the recipient.
  EXPECT_THAT(msg.user, HasSubstr("|file=" + ctx.temp_folder + "VTXWeb"));
  EXPECT_THAT(msg.user, HasSubstr(".txt|text=bob"));
  EXPECT_TRUE(temp_folder_empty());
}

TEST_F(FilterLibrary, FileModeWorksOnTheFileConcerned) {
  run_raw_interface_filter(settings(raw_file_mode, "file-upper"), ctx, msg);
  EXPECT_EQ(msg.content, "USER=BOB\r\nMSG=HELLO");
  EXPECT_EQ(read_text(web_path()), "user=bob\r\nmsg=hello");

  set_fields("bob", "me", "hi");
  run_interface_filter(settings(file_mode, "file-upper"), ctx, msg);
  EXPECT_EQ(msg.user, "BOB");
  // The temporary file is written with a closing line break, which the answer keeps.
  EXPECT_EQ(msg.message, "HI\r\n");
  EXPECT_TRUE(temp_folder_empty());
}

TEST_F(FilterLibrary, AnEmptyAnswerOrADeletedFileAbortsEitherFilter) {
  run_raw_interface_filter(settings(raw_text_mode, "abort"), ctx, msg);
  EXPECT_TRUE(msg.filter_aborted);
  EXPECT_THAT(logged(), Contains(kAborted));
  msg.filter_aborted = false;
  run_raw_interface_filter(settings(raw_file_mode, "file-delete"), ctx, msg);
  EXPECT_TRUE(msg.filter_aborted);

  for (const std::string mode : {"abort", "file-delete"}) {
    msg.filter_aborted = false;
    set_fields("bob", "me", "hi");
    run_interface_filter(settings(mode == "abort" ? text_mode : file_mode, mode), ctx, msg);
    EXPECT_TRUE(msg.filter_aborted) << mode;
  }
  EXPECT_EQ(msg.user, "bob");
}

TEST_F(FilterLibrary, AFilterThatFillsTheBufferIsReadOnlyToTheTextFieldsEnd) {
  run_raw_interface_filter(settings(raw_text_mode, "fill"), ctx, msg);
  EXPECT_EQ(msg.content, std::string(FilterBuffer::kTextSize, 'x'));
}

TEST_F(FilterLibrary, LongInputIsCutWithAWarning) {
  set_web_text(std::string(15301, 'a'));
  run_raw_interface_filter(settings(raw_text_mode, "upper"), ctx, msg);
  EXPECT_THAT(logged(), Contains("Warning: filter input text > 15300 characters - truncated"));
  EXPECT_EQ(msg.content, std::string(15301, 'A'));

  set_web_text(std::string(16000, 'a'));
  run_raw_interface_filter(settings(raw_text_mode, "upper"), ctx, msg);
  EXPECT_EQ(msg.content, std::string(FilterBuffer::kTextSize - 1, 'A'));
}

TEST_F(FilterLibrary, MissingPiecesSkipTheFilterWithALine) {
  InterfaceSettings s = settings(raw_text_mode, "upper");
  std::filesystem::remove(filter_settings());
  run_raw_interface_filter(s, ctx, msg);
  EXPECT_THAT(logged(), Contains("Unable to apply Raw Interface Filter - " + filter_settings() + " not found"));

  std::filesystem::remove(prog.file("vtfilter.so"));
  set_fields("bob", "me", "hi");
  run_interface_filter(settings(text_mode, "upper"), ctx, msg);
  EXPECT_THAT(logged(), Contains("Unable to apply Interface Filter - vtfilter.so not found"));
  EXPECT_EQ(msg.content, "user=bob\r\nmsg=hello");
  EXPECT_EQ(msg.user, "bob");
  EXPECT_FALSE(msg.filter_aborted);
}

TEST_F(FilterLibrary, ALibraryThatCannotBeLoadedLeavesTheMessageUnchanged) {
  write_text(prog.file("vtfilter.so"), "not a library");
  run_raw_interface_filter(settings(raw_text_mode, "upper"), ctx, msg);
  std::vector<std::string> lines = logged();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_THAT(lines[1], HasSubstr("Unable to apply Raw Interface Filter: Error in loading DLL"));
  EXPECT_EQ(lines[2], kLeftUnchanged);
  EXPECT_EQ(msg.content, "user=bob\r\nmsg=hello");
  EXPECT_FALSE(msg.filter_aborted);
}

TEST_F(FilterLibrary, NothingHappensWithoutTheKey) {
  run_raw_interface_filter(settings("usefilterdll=true\r\ninterfacefilter=<settings>", "abort"), ctx, msg);
  run_interface_filter(settings("usefilterdll=true\r\nrawinterfacefilter=<settings>", "abort"), ctx, msg);
  EXPECT_TRUE(logged().empty());
  EXPECT_FALSE(msg.filter_aborted);
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

TEST(FilterBufferLayout, TheEndIsZeroedBeforeTheAnswerIsRead) {
  FilterBuffer buffer(FilterCall{});
  std::fill(buffer.data(), buffer.data() + FilterBuffer::kSize, 'x');
  EXPECT_EQ(buffer.take_answer().size(), FilterBuffer::kTextSize);
  EXPECT_EQ(buffer.data()[FilterBuffer::kSize - 2], 0);
  EXPECT_EQ(buffer.data()[FilterBuffer::kSize - 1], 0);
}

}  // namespace
}  // namespace dexweb::test
