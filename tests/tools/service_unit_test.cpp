// dexweb install writes a hardened unit whose paths survive systemd's quoting and which
// never holds the password given, and uninstall says when there is nothing to remove.
#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace dexweb::test {
namespace {

TEST(ServiceUnit, InstallEscapesPathsHardensTheUnitAndUninstallNeedsOne) {
  TempDir dir;
  const std::string units = dir.dir() + "units";
  std::filesystem::create_directories(units);
  // A registry path with a blank, a percent sign, a quote and a backslash.
  const std::string registry = dir.dir() + "a b%c\"d\\e.reg";
  const std::map<std::string, std::string> env{{"DEXWEB_UNIT_DIR", units}, {"VELOTRAX_REGISTRY", registry}};
  std::string err;
  ASSERT_EQ(run_to_end({DEXWEB_BIN, "install", "velotrax", "s3cret"}, env, &err), 0) << err;
  const std::string unit = read_text(units + "/VTXWeb.service");
  EXPECT_EQ(unit.find("s3cret"), std::string::npos) << unit;

  const std::string quoted = dir.dir() + "a b%%c\\\"d\\\\e.reg";
  EXPECT_NE(unit.find("\nEnvironment=\"VELOTRAX_REGISTRY=" + quoted + "\"\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("\nExecStart=\"" + std::string(DEXWEB_BIN) + "\"\n"), std::string::npos) << unit;
  for (const char* line :
       {"Type=notify", "User=velotrax", "NoNewPrivileges=yes", "ProtectSystem=strict",
        "ReadWritePaths=-/var/lib/velotrax/ -/var/log/velotrax/", "PrivateTmp=yes", "ProtectHome=yes",
        "RuntimeDirectory=dexweb", "UMask=0027", "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6",
        "SystemCallFilter=@system-service", "MemoryDenyWriteExecute=yes", "PrivateDevices=yes",
        "CapabilityBoundingSet=CAP_LEASE", "AmbientCapabilities=CAP_LEASE", "StartLimitIntervalSec=600",
        "StartLimitBurst=5", "Restart=on-failure", "RestartSec=30", "WatchdogSec=180"})
    EXPECT_NE(unit.find("\n" + std::string(line) + "\n"), std::string::npos) << line;

  // systemd itself reads the unit: no syntax complaint, and the exposure stays low.
  if (std::system("command -v systemd-analyze >/dev/null 2>&1") == 0) {
    const std::string command = "systemd-analyze security --offline=yes --no-pager '" + units +
                                "/VTXWeb.service' 2>&1";
    std::string report;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
      char buffer[4096];
      for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) report.append(buffer, n);
      ::pclose(pipe);
    }
    const auto at = report.find("Overall exposure level for VTXWeb.service: ");
    ASSERT_NE(at, std::string::npos) << report;
    EXPECT_LE(std::stod(report.substr(at + 43)), 2.5) << report;
    EXPECT_EQ(report.find("Unknown key"), std::string::npos) << report;
    EXPECT_EQ(report.find("Failed to"), std::string::npos) << report;
  }

  ASSERT_EQ(run_to_end({DEXWEB_BIN, "uninstall"}, env), 0);
  EXPECT_FALSE(std::filesystem::exists(units + "/VTXWeb.service"));
  EXPECT_EQ(run_to_end({DEXWEB_BIN, "uninstall"}, env, &err), 1);
  EXPECT_NE(err.find("No unit to remove"), std::string::npos) << err;
}

}  // namespace
}  // namespace dexweb::test
