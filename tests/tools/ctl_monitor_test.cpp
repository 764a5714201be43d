// dexwebctl monitor shows real datagrams as they arrive, keeps the tally of good and bad,
// and takes its port from the command line or the registry.
#include <gtest/gtest.h>

#include "platform/sockets.h"
#include "support/ctl_runner.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/udp_listener.h"

namespace dexweb::test {
namespace {

class CtlMonitor : public ::testing::Test {
 protected:
  // Starts the monitor and returns the port it announced.
  int start(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {}) {
    monitor = std::make_unique<ChildProcess>(ctl_argv(args), env);
    return announced_port([&] { return monitor->stderr_text(); }, "monitor datagrams on 127\\.0\\.0\\.1");
  }

  static void send(int port, const std::string& datagram) { ASSERT_TRUE(platform::UdpSender().send("127.0.0.1", port, datagram)); }

  std::unique_ptr<ChildProcess> monitor;
};

TEST_F(CtlMonitor, ShowsEachDatagramAsOneLineWithTheTallyColouredWhenAsked) {
  int port = start({"monitor", "--port", "0", "--count", "5", "--colour", "never"});
  ASSERT_GT(port, 0);
  send(port, "VTXWeb|2026-03-05 14:20:00|running|DexWeb started\r");
  send(port, "VTXWeb|2026-03-05 14:20:01|good|Accepted a|b\r");
  send(port, "Velotrax|2026-03-05 14:20:01|good|Accepted copy\r");  // the message log's copy: not counted
  send(port, "VTXWeb|2026-03-05 14:20:02|BAD|Refused\r");
  send(port, "no fields\x1b[2J\r\n");
  ASSERT_EQ(monitor->wait(), 0);
  EXPECT_EQ(monitor->stdout_text(),
            "2026-03-05 14:20:00  running  DexWeb started\n"
            "2026-03-05 14:20:01  good     Accepted a|b  (recipients: good 1, bad 0)\n"
            "2026-03-05 14:20:01  good     [Velotrax] Accepted copy\n"
            "2026-03-05 14:20:02  bad      Refused  (recipients: good 1, bad 1)\n"
            "                     ?        no fields?[2J??\n"
            "recipients: good 1, bad 1\n");

  // Coloured when asked.
  port = start({"monitor", "--port", "0", "--count", "2", "--colour", "always"});
  send(port, "VTXWeb|2026-03-05 14:20:01|good|ok\r");
  send(port, "VTXWeb|2026-03-05 14:20:02|general|plain\r");
  ASSERT_EQ(monitor->wait(), 0);
  EXPECT_EQ(monitor->stdout_text(),
            "2026-03-05 14:20:01  \x1b[32mgood   \x1b[0m  ok  (recipients: good 1, bad 0)\n"
            "2026-03-05 14:20:02  general  plain\n"
            "recipients: good 1, bad 0\n");
}

TEST_F(CtlMonitor, ListensOnTheRegistrysMonitorPort) {
  TempDir dir;
  int free_port = 0;
  {
    UdpListener probe;  // a port that was free a moment ago
    free_port = probe.port();
  }
  write_text(dir.file("velotrax.reg"), registry_text("", "", "\"VTM_Port\"=\"" + std::to_string(free_port) + "\"\r\n"));
  const int port = start({"monitor", "--count", "1"}, {{"VELOTRAX_REGISTRY", dir.file("velotrax.reg")}});
  EXPECT_EQ(port, free_port);
  send(port, "VTXWeb|2026-03-05 14:20:01|bad|no\r");
  ASSERT_EQ(monitor->wait(), 0);
  EXPECT_EQ(monitor->stdout_text(), "2026-03-05 14:20:01  bad      no  (recipients: good 0, bad 1)\nrecipients: good 0, bad 1\n");
}

}  // namespace
}  // namespace dexweb::test
