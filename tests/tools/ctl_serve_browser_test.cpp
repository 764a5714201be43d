// A real browser (headless Chromium driven through chromedriver's WebDriver protocol) fills
// the form of dexwebctl serve and sees that its message is queued; skipped where Chromium is
// absent.
#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>
#include <filesystem>
#include <thread>
#include <regex>

#include "support/temp_dir.h"
#include "tools/ctl_runner.h"

namespace dexweb::test {
namespace {

constexpr const char* kChromium = "/usr/bin/chromium";
constexpr const char* kChromedriver = "/usr/bin/chromedriver";
constexpr const char* kElementKey = "element-6066-11e4-a52e-4f735466cecf";

std::string json_text(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out + "\"";
}

std::string first_match(const std::string& text, const std::string& pattern) {
  std::smatch m;
  return std::regex_search(text, m, std::regex(pattern)) ? m[1].str() : std::string();
}

// One browser session; closing it ends the browser, which killing chromedriver would not.
class Browser {
 public:
  Browser(int driver_port, const std::string& profile) : driver_("127.0.0.1", driver_port) {
    driver_.set_read_timeout(60);
    const std::string caps =
        R"({"capabilities":{"alwaysMatch":{"browserName":"chrome","goog:chromeOptions":{"binary":")" + std::string(kChromium) +
        R"(","args":["--headless=new","--no-sandbox","--disable-gpu","--disable-dev-shm-usage","--user-data-dir=)" + profile +
        R"("]}}}})";
    const auto res = driver_.Post("/session", caps, "application/json");
    if (res) session_ = first_match(res->body, R"re("sessionId"\s*:\s*"([^"]+)")re");
    if (res && session_.empty()) failure_ = res->body;
  }
  ~Browser() {
    if (!session_.empty()) driver_.Delete("/session/" + session_);
  }
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  bool started() const { return !session_.empty(); }
  const std::string& failure() const { return failure_; }

  void open(const std::string& url) { call("/url", R"({"url":)" + json_text(url) + "}"); }
  std::string find(const std::string& css) {
    return first_match(call("/element", R"({"using":"css selector","value":)" + json_text(css) + "}"),
                       std::string("\"") + kElementKey + R"re("\s*:\s*"([^"]+)")re");
  }
  void type(const std::string& css, const std::string& text) {
    call("/element/" + find(css) + "/value", R"({"text":)" + json_text(text) + "}");
  }
  void click(const std::string& css) { call("/element/" + find(css) + "/click", "{}"); }
  std::string text_of(const std::string& css) {
    const auto res = driver_.Get("/session/" + session_ + "/element/" + find(css) + "/text");
    return res ? first_match(res->body, R"re("value"\s*:\s*"([^"]*)")re") : std::string();
  }

 private:
  std::string call(const std::string& path, const std::string& body) {
    const auto res = driver_.Post("/session/" + session_ + path, body, "application/json");
    return res ? res->body : std::string();
  }

  httplib::Client driver_;
  std::string session_;
  std::string failure_;
};

TEST(CtlServeBrowser, ABrowserFillsTheFormAndFollowsItsMessage) {
  if (!std::filesystem::exists(kChromium) || !std::filesystem::exists(kChromedriver))
    GTEST_SKIP() << "Chromium and chromedriver are not installed";
  TempDir dir;
  const std::string home = dir.dir() + "home/";
  ASSERT_EQ(run_ctl({"init", home}), 0);
  const Served server = serve(home);
  ASSERT_GT(server.port, 0);

  ChildProcess driver({kChromedriver, "--port=0"}, {});
  const int driver_port = announced_port([&] { return driver.stdout_text(); }, "started successfully on port");
  ASSERT_GT(driver_port, 0) << driver.stdout_text() << driver.stderr_text();
  Browser browser(driver_port, dir.dir() + "profile");
  ASSERT_TRUE(browser.started()) << browser.failure() << driver.stderr_text();

  const std::string site = "http://127.0.0.1:" + std::to_string(server.port);
  const std::string operator_site = "http://127.0.0.1:" + std::to_string(server.status_port);
  browser.open(site + "/");
  browser.type("#account", "sales");
  browser.type("#sender", "Browser <b>");
  browser.type("#recipients", "bob amy");
  browser.type("#message", "line one\nline two");
  browser.click("button[type=submit]");
  // The click may return before the next page is there.
  std::string confirmation;
  wait_until([&] { return !(confirmation = browser.text_of("#done")).empty(); });
  EXPECT_TRUE(confirmation.starts_with("The message was queued as web")) << confirmation;

  const auto files = files_in(home + "web");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_NE(confirmation.find(files[0]), std::string::npos);
  EXPECT_EQ(read_text(home + "web/" + files[0]),
            "user=sales\r\nfrm=Browser <b>\r\nsubject=bob amy\r\nmsg=line one\r\nline two\r\n");

  // The operator's status page shows the module's decision: within a few seconds of its
  // start, the message's row.
  browser.open(operator_site + "/status");
  EXPECT_TRUE(wait_until([&] { return browser.text_of("h1") == "DexWeb status"; })) << browser.text_of("body");
  ChildProcess module({DEXWEB_BIN}, {{"VELOTRAX_REGISTRY", home + "velotrax.reg"}, {"XDG_RUNTIME_DIR", dir.dir()}});
  bool shown = false;
  for (int i = 0; i < 50 && !shown; ++i) {
    browser.open(operator_site + "/status");
    const std::string page = browser.text_of("body");
    shown = page.find("line one") != std::string::npos && page.find("amy") != std::string::npos;
    if (!shown) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  EXPECT_TRUE(shown) << browser.text_of("body");
  EXPECT_FALSE(browser.text_of("#state").empty());
  module.signal(SIGTERM);
  EXPECT_EQ(module.wait(), 0);
}

}  // namespace
}  // namespace dexweb::test
