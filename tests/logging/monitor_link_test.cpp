#include "logging/monitor_link.h"

#include <gtest/gtest.h>

#include "logging/log_event.h"
#include "logging/logging_fixture.h"
#include "logging/named_settings.h"
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

TEST_F(MonitorLink, NamedSettingsReadTheRegistryByLogicalName) {
  write_text(dir.file("velotrax.reg"),
             registry_text("", "\"Sched_Run\"=\"True\"\r\n\"Connector16_Run\"=\"true\"\r\n\"Stop\"=\"yes\"\r\n",
                           "\"VTM_Port\"=dword:00001ce8\r\n\"VTM_IP2\"=\"10.0.0.3\"\r\n"));
  EXPECT_EQ(get_named_setting("SCHED_REG_RUN"), Variant{true});
  EXPECT_EQ(get_named_setting("connector_reg_run_16"), Variant{true});
  EXPECT_EQ(get_named_setting("velotrax_reg_stop"), Variant{false});
  EXPECT_EQ(get_named_setting("vtmonitor_port"), Variant{std::int32_t{7400}});
  EXPECT_EQ(get_named_setting("vtmonitor_ip0"), Variant{std::string("127.0.0.1")});
  EXPECT_EQ(get_named_setting("vtmonitor_ip2_enabled"), Variant{true});
  EXPECT_EQ(get_named_setting("no_such_setting"), std::nullopt);
}

}  // namespace
}  // namespace dexweb::test
