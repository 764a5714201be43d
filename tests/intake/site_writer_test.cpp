// The module as a site runs it: under its own account, with the web form's writer under
// another. The module may not lease a file of another account, so it must tell a slow
// writer from a finished file by other means. A file it cannot read is said once, counted,
// found by check before it happens, and taken once it is fixed; the public form's sender
// gets one notice at most.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <httplib.h>

#include "support/ctl_runner.h"

namespace dexweb::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSetpriv = "/usr/bin/setpriv";

class SiteWriter : public GatewayHome {
 protected:
  void SetUp() override {
    if (::geteuid() != 0 || !fs::exists(kSetpriv)) GTEST_SKIP() << "needs root and setpriv to run as other accounts";
    ASSERT_NO_FATAL_FAILURE(GatewayHome::SetUp());
    fs::permissions(dir.dir(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    ASSERT_EQ(run_to_end({"/bin/chown", "-R", "daemon:daemon", home}, {}), 0);
    fs::permissions(home + "web", fs::perms::all);  // the web server's account writes here
  }

  // What the web side does: dexwebctl submit under nobody's account with a strict umask.
  void submit_as_web(const std::string& options) {
    const std::string script = "umask 077; exec \"$0\" submit --folder \"$1\" " + options;
    ASSERT_EQ(run_to_end(as_account("nobody", "nogroup", {"/bin/sh", "-c", script, DEXWEBCTL_BIN, home + "web"}), {}), 0);
  }
  // The arrangement of a site: what the web writers create in the folder belongs to the
  // module's group.
  void share_folder() {
    ASSERT_EQ(run_to_end({"/bin/chgrp", "daemon", home + "web"}, {}), 0);
    fs::permissions(home + "web", fs::perms::all | fs::perms::set_gid);
  }

  // The one stored message, or "<no row>".
  std::string stored_message() const { return rows().empty() ? "<no row>" : rows().begin()->first; }
};

TEST_F(SiteWriter, AFileThatAnotherAccountStillWritesIsNotReadBeforeItIsComplete) {
  const auto module = start_module(as_account("daemon", "daemon", {}));
  ASSERT_TRUE(wait_logged("Module Started")) << module->stderr_text();
  // Five parts 0.7 s apart: longer than the module's poll interval, each pause shorter
  // than the quiet time that marks a finished file.
  const std::string script =
      "exec > '" + home + "web/slow.msg'; printf 'user=bob\\r\\nmsg=part 1\\r\\n'; "
      "for i in 2 3 4 5; do sleep 0.7; printf 'part %s\\r\\n' $i; done";
  ASSERT_EQ(run_to_end(as_account("nobody", "nogroup", {"/bin/sh", "-c", script}), {}), 0);
  ASSERT_TRUE(wait_until([&] { return stored_message() != "<no row>"; })) << module->stderr_text();
  EXPECT_EQ(stored_message(), "part 1\r\npart 2\r\npart 3\r\npart 4\r\npart 5");
  module->signal(SIGTERM);
  EXPECT_EQ(module->wait(), 0) << module->stderr_text();
}

TEST_F(SiteWriter, AFileTheModuleCannotReadIsFoundBeforehandSaidOnceCountedAndTakenOnceFixed) {
  std::string out;
  const std::vector<std::string> check{"check", "--home", home, "--account", "daemon", "--web-account", "nobody"};
  EXPECT_EQ(run_ctl(check, &out), 1);
  EXPECT_TRUE(has(out, "problem a file that nobody writes into " + home + "web/ (owner nobody, group nogroup, mode 0640)"
                       " is not readable by daemon: the module would leave every message unread;")) << out;

  submit_as_web("--user bob --message hi");
  const std::string file = home + "web/" + files_in(home + "web").front();
  const auto module = start_module(as_account("daemon", "daemon", {}));
  const auto unreadable = [&](int n) { return has(status(home), "\"unreadable\":" + std::to_string(n) + "}"); };
  ASSERT_TRUE(wait_until([&] { return unreadable(1); })) << module->stderr_text();
  // Polls go on (every 2 s); the file is said once.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const std::string said = module->stderr_text();
  EXPECT_EQ(said.find("Unable to read web file: "), said.rfind("Unable to read web file: ")) << said;
  EXPECT_TRUE(has(said, "VTXWeb: Unable to read web file: " + file +
                            ": Permission denied (owner nobody, group nogroup, mode 0640; the module runs as daemon)."))
      << said;
  EXPECT_TRUE(has(status(home, {}), "\nproblem: 1 file(s) in the watched folder cannot be read by the module's account"));
  EXPECT_TRUE(files_in(home + "log/badmsg").empty());  // left, not refused
  const auto server = serve(home);
  ASSERT_GT(server.status_port, 0);
  EXPECT_TRUE(has(httplib::Client("127.0.0.1", server.status_port).Get("/metrics")->body, "\ndexweb_files_unreadable 1\n"));

  // Fixed, the file changed: it is taken.
  fs::permissions(file, fs::perms::others_read, fs::perm_options::add);
  // The folder empties at the claim, before the commit: wait for the row itself.
  ASSERT_TRUE(wait_until([&] { return stored_message() == "hi"; })) << module->stderr_text();
  EXPECT_TRUE(files_in(home + "web").empty());
  EXPECT_TRUE(wait_until([&] { return unreadable(0); }));

  // Shared by the folder's group, a file of the web side is the module's to read.
  share_folder();
  EXPECT_EQ(run_ctl(check, &out), 0) << out;
  EXPECT_TRUE(has(out, "ok a file that nobody writes into " + home + "web/ is readable by daemon\n")) << out;
  module->signal(SIGTERM);
  EXPECT_EQ(module->wait(), 0) << module->stderr_text();
}

// A sender field of the public form that names several addresses: the failure notice goes
// to its first one only, with the whole text, from a template saved with LF line ends.
TEST_F(SiteWriter, TheFormsSenderGetsOneNoticeAtMostWithTheWholeText) {
  share_folder();
  sql("UPDATE [settings] SET [dexmail_enabled] = 1, [domain] = 'example.org'");
  write_text(home + "prog/failurenotifylist.txt", "%Sender%\n");
  write_text(home + "prog/failure.mtp", "Subject: Not sent\n\nMessage: %Message%\nReason: %ErrorMessage%\n");
  submit_as_web("--user nosuch --from 'a@x.example,b@y.example c@z.example' --message \"$(printf 'line 1\\nline 2')\"");
  const auto module = start_module(as_account("daemon", "daemon", {}));
  ASSERT_TRUE(wait_until([&] { return files_in(home + "web").empty() && !files_in(home + "data/MailOut").empty(); }))
      << module->stderr_text();
  module->signal(SIGTERM);
  EXPECT_EQ(module->wait(), 0) << module->stderr_text();
  const auto mails = files_in(home + "data/MailOut");
  ASSERT_EQ(mails.size(), 1u);
  const std::string mail = read_text(home + "data/MailOut/" + mails.front());
  EXPECT_TRUE(has(mail, "\r\nX-WRTo: a@x.example\r\nTo: a@x.example\r\n")) << mail;
  EXPECT_TRUE(mail.ends_with("\r\nSubject: Not sent\r\n\r\nMessage: line 1\r\nline 2\r\n"
                             "Reason: Recipient record not found or web service not enabled for recipient.\r\n\r\n"))
      << mail;
}

}  // namespace
}  // namespace dexweb::test
