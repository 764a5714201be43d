#include "logging/monitor_link.h"

#include <gtest/gtest.h>

#include "logging/log_event.h"
#include "logging/logging_fixture.h"
#include "support/udp_listener.h"

namespace dexweb::test {
namespace {

using MonitorLink = LoggingTest;

TEST(MonitorAddress, OnlyDottedIpv4AddressesCount) {
  for (const char* good : {"10.0.0.3", " 255.255.255.255 ", "0.0.0.0"}) EXPECT_TRUE(is_ipv4(good)) << good;
  for (const char* bad : {"10.0.0.300", "1.2.3", "1.2.3.4.5", "1..2.3", ".1.2.3", "1.2.3.", "a.b.c.d", "localhost"})
    EXPECT_FALSE(is_ipv4(bad)) << bad;
  EXPECT_EQ(resolve_host(" 127.0.0.1 "), "127.0.0.1");
  EXPECT_EQ(resolve_host("  "), "");
}

TEST_F(MonitorLink, FurtherMonitorsCountWithADottedAddressOnceTheSettingsAreRead) {
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
