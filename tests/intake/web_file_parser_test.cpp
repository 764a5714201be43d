#include "intake/web_file_parser.h"

#include <gtest/gtest.h>

namespace dexweb {
namespace {

WebMessage parse(const std::string& content) {
  NVPList lines;
  split_web_lines(content, lines);
  WebMessage msg;
  msg.message = "left over";
  parse_web_lines(lines, msg);
  return msg;
}

TEST(WebFileParser, KeysIgnoreCaseValuesAreTrimmedAndTheLaterLineWins) {
  WebMessage msg = parse("USER= Bob \r\nFrm=  Pat Smith \r\nnoise\r\nSubject= a b \r\nuser=Amy\r\nMSG=  hi  \r\n");
  EXPECT_EQ(msg.user, "amy");
  EXPECT_EQ(msg.frm, "Pat Smith");
  EXPECT_EQ(msg.subject, "a b");
  EXPECT_EQ(msg.message, "hi");
}

TEST(WebFileParser, EverythingAfterMsgIsMessage) {
  WebMessage msg = parse("user=bob\r\nmsg= first \r\nuser=eve\r\nsubject=x\r\n\r\n  last  ");
  EXPECT_EQ(msg.user, "bob");
  EXPECT_EQ(msg.subject, "");
  EXPECT_EQ(msg.message, "first\r\nuser=eve\r\nsubject=x\r\n\r\n  last  ");
}

TEST(WebFileParser, AnEmptyMsgLineIsNoMessage) {
  EXPECT_EQ(parse("user=bob\r\nmsg=").message, "");
  EXPECT_EQ(parse("user=bob\r\nmsg=   \r\n").message, "");
  EXPECT_EQ(parse("user=bob\r\nmsg=\r\n\r\n").message, "\r\n");
  EXPECT_EQ(parse("user=bob\r\n").message, "");
}

}  // namespace
}  // namespace dexweb
