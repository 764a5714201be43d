#include "logging/log_event.h"

#include <gtest/gtest.h>

#include "config/registry_values.h"
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
  log_event("detail", "disk", "general", "d1");
  log_event("General", "disk", "general", "g1");
  log_state().log_level = 2;
  log_event("DETAIL", "disk", "general", "d2");
  log_event("debug", "disk", "general", "x2");
  log_state().log_level = 3;
  log_event("Debug", "disk", "general", "x3");
  log_event("info", "disk", "general", "i3");
  EXPECT_EQ(queued_text(log_state().disk_log_queue),
            std::string(kStamp) + "  g1\r\n" + kStamp + "  d2\r\n" + kStamp + "  x3\r\n");
  EXPECT_EQ(policy.retry_count(), 0);
  EXPECT_EQ(policy.retry_round(), 0);
}

TEST_F(LogEvent, TextIsSanitisedAndQueuedPerTarget) {
  log_event("general", "monitor", "general", "monitor only");
  log_event("general", "Disk/Message", "general", "a|b\tc\r\n caf\xc3\xa9 \xe2\x82\xac~");
  std::string safe = "a<124>b<9>c<13><10> caf<233> <8364>~";
  EXPECT_EQ(queued_text(log_state().disk_log_queue), std::string(kStamp) + "  " + safe + "\r\n");
  EXPECT_EQ(log_state().message_log_queue.at(0).line, std::string(kStamp) + "  VTXWeb " + safe);
  log_state().log_to_disk = false;
  log_event("general", "disk", "general", "not kept");
  EXPECT_EQ(log_state().disk_log_queue.size(), 1u);
}

TEST_F(LogEvent, DatagramsCarryModuleTimeCategoryAndTruncatedText) {
  UdpListener monitor;
  set_monitor("", monitor.port());
  log_event("general", "monitor/message", "BAD", "a|b");
  std::string long_text(1500, 'x');
  log_event("general", "monitor/disk", "general", long_text);
  std::string fields = "|" + std::string(kStamp) + "|bad|a<124>b\r";
  EXPECT_EQ(monitor.receive_all(),
            (Lines{"VTXWeb" + fields, "Velotrax" + fields,
                   "VTXWeb|" + std::string(kStamp) + "|general|" + std::string(1000, 'x') + " (truncated in monitor)\r"}));
  EXPECT_EQ(queued(1), std::string(kStamp) + "  " + long_text);
}

TEST_F(LogEvent, NothingIsSentWhileTheMonitorIsDisabled) {
  UdpListener monitor;
  set_monitor("\"VTM_Port\"=\"" + std::to_string(monitor.port()) + "\"\r\n");
  log_event("general", "monitor", "general", "unseen");
  EXPECT_TRUE(monitor.receive_all().empty());
}

TEST(MonitorAddress, OnlyDottedIpv4AddressesCount) {
  for (const char* good : {"10.0.0.3", " 255.255.255.255 ", "0.0.0.0"}) EXPECT_TRUE(is_ipv4(good)) << good;
  for (const char* bad : {"10.0.0.300", "1.2.3", "1.2.3.4.5", "1..2.3", ".1.2.3", "1.2.3.", "a.b.c.d", "localhost"})
    EXPECT_FALSE(is_ipv4(bad)) << bad;
  EXPECT_EQ(resolve_host(" 127.0.0.1 "), "127.0.0.1");
  EXPECT_EQ(resolve_host("  "), "");
}

TEST_F(LogEvent, FurtherMonitorsCountWithADottedAddressOnceTheSettingsAreRead) {
  UdpListener monitor;
  set_monitor("\"VTM_IP2\"=\"127.0.0.300\"\r\n\"VTM_IP3\"=\"localhost\"\r\n", monitor.port());
  log_event("general", "monitor", "general", "once");
  EXPECT_EQ(monitor.receive_all().size(), 1u);

  std::string moved = "\"VTM_Enabled\"=\"1\"\r\n\"VTM_Port\"=\"" + std::to_string(monitor.port()) +
                      "\"\r\n\"VTM_IP2\"=\"127.0.0.1\"\r\n";
  write_text(dir.file("velotrax.reg"), registry_text("", "", moved));
  log_event("general", "monitor", "general", "still once");
  EXPECT_EQ(monitor.receive_all().size(), 1u);
  read_monitor_settings();
  log_event("general", "monitor", "general", "now twice");
  EXPECT_EQ(monitor.receive_all().size(), 2u);
}

}  // namespace
}  // namespace dexweb::test
