#include "logging/log_event.h"

#include <gtest/gtest.h>

#include "config/registry.h"
#include "logging/logging_fixture.h"
#include "logging/monitor_link.h"
#include "support/udp_listener.h"

namespace dexweb::test {
namespace {

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

TEST_F(LogEvent, NothingIsSentWhileTheMonitorIsDisabled) {
  UdpListener monitor;
  set_monitor("\"VTM_Port\"=\"" + std::to_string(monitor.port()) + "\"\r\n");
  log_event(LogLevel::General, LogTarget::Monitor, LogCategory::General, "unseen");
  EXPECT_TRUE(monitor.receive_all().empty());
}

TEST(MonitorAddress, OnlyDottedIpv4AddressesCount) {
  for (const char* good : {"10.0.0.3", " 255.255.255.255 ", "0.0.0.0"}) EXPECT_TRUE(is_ipv4(good)) << good;
  for (const char* bad : {"10.0.0.300", "1.2.3", "1.2.3.4.5", "1..2.3", ".1.2.3", "1.2.3.", "a.b.c.d", "localhost"})
    EXPECT_FALSE(is_ipv4(bad)) << bad;
  EXPECT_EQ(resolve_host(" 127.0.0.1 "), "127.0.0.1");
  EXPECT_EQ(resolve_host("  "), "");
}

TEST_F(LogEvent, FurtherMonitorsCountWithADottedAddress) {
  UdpListener monitor;
  set_monitor("\"VTM_IP2\"=\"127.0.0.300\"\r\n\"VTM_IP3\"=\"localhost\"\r\n", monitor.port());
  log_event(LogLevel::General, LogTarget::Monitor, LogCategory::General, "once");
  EXPECT_EQ(monitor.receive_all().size(), 1u);
  set_monitor("\"VTM_IP2\"=\"127.0.0.1\"\r\n", monitor.port());
  log_event(LogLevel::General, LogTarget::Monitor, LogCategory::General, "twice");
  EXPECT_EQ(monitor.receive_all().size(), 2u);
}

}  // namespace
}  // namespace dexweb::test
