// What the bytes of a web file become on their way to a row.
#include <gtest/gtest.h>

#include "intake/intake_harness.h"
#include "intake/web_message.h"

namespace dexweb::test {
namespace {

class WebFileContent : public IntakeTest {
 protected:
  void SetUp() override { h.add_user("sales"); }
  // Works one file and returns its row's message, or "(none)".
  std::string stored(const std::string& bytes) {
    h.write_web_file("a.msg", bytes);
    h.poll();
    EXPECT_TRUE(h.web_files().empty());
    return h.rows().empty() ? "(none)" : h.rows().back().message;
  }
};

TEST_F(WebFileContent, LongMessagesAreCutAndHugeFilesAreReadOnlyInPart) {
  const std::string long_text(20000, 'x');
  EXPECT_EQ(stored("user=sales\r\nmsg=" + long_text + "\r\n"), std::string(16000, 'x'));
  EXPECT_FALSE(h.logged("Only the first 1048576 bytes of the web file were read: " + h.web.file("a.msg")));

  const std::string huge = "user=sales\r\nmsg=" + std::string(3 << 20, 'y');
  EXPECT_EQ(stored(huge), std::string(16000, 'y'));
  EXPECT_TRUE(h.logged("Only the first 1048576 bytes of the web file were read: " + h.web.file("a.msg")));
}

TEST_F(WebFileContent, NulsAreRemovedAndBytesThatAreNoUtf8AreWindows1252) {
  static constexpr char kWithNuls[] = "us\0er=sales\r\nmsg=caf\xE9 \0ok";
  EXPECT_EQ(stored(std::string(kWithNuls, sizeof kWithNuls - 1)), "caf\xC3\xA9 ok");
  EXPECT_EQ(stored("user=sales\r\nmsg=Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC\r\n"), "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC");
}

TEST_F(WebFileContent, AByteOrderMarkHidesTheKeyOfTheFirstLine) {
  EXPECT_EQ(stored("\xEF\xBB\xBFuser=sales\r\nmsg=hi\r\n"), "(none)");
  EXPECT_TRUE(h.logged("No user field in web data"));
  // UTF-16: the NUL bytes go, the first line keeps the mark, the others parse.
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("frm=x\r\nuser=sales\r\nmsg=hi\r\n")) utf16 += std::string{c, '\0'};
  EXPECT_EQ(stored(utf16), "hi");
}

TEST_F(WebFileContent, LfOnlyLineBreaksLeaveOneLine) {
  EXPECT_EQ(stored("user=Sales\nfrm=Pat\nmsg=hi\n"), "(none)");
  EXPECT_TRUE(h.logged("No message field in web data"));
}

TEST_F(WebFileContent, TheSenderIsStoredAsGivenAndCutTo80) {
  const std::string sender = "O'Brien \"Pat\" " + std::string(100, 's');
  h.write_web_file("a.msg", "user=sales\r\nfrm= " + sender + " \r\nmsg=hi\r\n");
  h.poll();
  ASSERT_EQ(h.rows().size(), 1u);
  EXPECT_EQ(h.rows()[0].frm, sender.substr(0, 80));
  EXPECT_TRUE(h.logged("Message accepted. Recipient: sales Sender: " + sender.substr(0, 80)));
}

// The field lines: keys ignore case, values are trimmed, the later line wins, everything
// after the msg line is the message, and an empty msg line is no message.
TEST(WebFileParser, FieldLines) {
  struct Case {
    const char* content;
    const char* parsed;  // user|frm|subject|message
  };
  for (const Case& c : {Case{"USER= Bob \r\nFrm=  Pat Smith \r\nnoise\r\nSubject= a b \r\nuser=Amy\r\nMSG=  hi  \r\n",
                             "amy|Pat Smith|a b|hi"},
                        Case{"user=bob\r\nmsg= first \r\nuser=eve\r\nsubject=x\r\n\r\n  last  ",
                             "bob|||first\r\nuser=eve\r\nsubject=x\r\n\r\n  last  "},
                        Case{"user=bob\r\nmsg=", "bob|||"}, Case{"user=bob\r\nmsg=   \r\n", "bob|||"},
                        Case{"user=bob\r\nmsg=\r\n\r\n", "bob|||\r\n"}, Case{"user=bob\r\n", "bob|||"}}) {
    NVPList lines;
    split_web_lines(c.content, lines);
    WebMessage msg;
    msg.message = "left over";
    parse_web_lines(lines, msg);
    EXPECT_EQ(msg.user + "|" + msg.frm + "|" + msg.subject + "|" + msg.message, c.parsed) << c.content;
  }
}

}  // namespace
}  // namespace dexweb::test
