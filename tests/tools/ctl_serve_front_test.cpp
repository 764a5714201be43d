// Real programs in front of dexwebctl serve: a browser (headless Chromium driven through
// chromedriver's WebDriver protocol) fills the form and sees that its message is queued, and
// nginx, configured as the README shows, passes the form through. Each is skipped where it
// is not installed.
#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>
#include <filesystem>
#include <thread>
#include <regex>
#include <sstream>

#include "support/ctl_runner.h"
#include "support/raw_http.h"
#include "support/temp_dir.h"

namespace dexweb::test {
namespace {

constexpr const char* kChromium = "/usr/bin/chromium";
constexpr const char* kChromedriver = "/usr/bin/chromedriver";
constexpr const char* kElementKey = "element-6066-11e4-a52e-4f735466cecf";
constexpr const char* kNginx = "/usr/sbin/nginx";

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
  void resize(int width, int height) {
    call("/window/rect", R"({"width":)" + std::to_string(width) + R"(,"height":)" + std::to_string(height) + "}");
  }
  // The laid-out width of the element in CSS pixels; 0 when there is none.
  double width_of(const std::string& css) {
    const auto res = driver_.Get("/session/" + session_ + "/element/" + find(css) + "/rect");
    const std::string width = res ? first_match(res->body, R"re("width"\s*:\s*([0-9.]+))re") : std::string();
    return width.empty() ? 0 : std::stod(width);
  }
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

using CtlServeFront = GatewayHome;

TEST_F(CtlServeFront, ABrowserFillsTheFormAndFollowsItsMessage) {
  if (!std::filesystem::exists(kChromium) || !std::filesystem::exists(kChromedriver))
    GTEST_SKIP() << "Chromium and chromedriver are not installed";
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
  // start, the message's row, and the refusal of another one with its reason readable on a
  // screen 1280 pixels wide, beside the long path of its bad copy.
  submit("nobody-at-all");
  browser.open(operator_site + "/status");
  EXPECT_TRUE(wait_until([&] { return browser.text_of("h1") == "DexWeb status"; })) << browser.text_of("body");
  const auto module = start_module();
  bool shown = false;
  for (int i = 0; i < 50 && !shown; ++i) {
    browser.open(operator_site + "/status");
    const std::string page = browser.text_of("body");
    shown = page.find("line one") != std::string::npos && page.find("Recipient record not found or web service") != std::string::npos;
    if (!shown) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  EXPECT_TRUE(shown) << browser.text_of("body");
  EXPECT_FALSE(browser.text_of("#state").empty());
  browser.resize(1280, 900);
  EXPECT_GE(browser.width_of("#refusals td.why"), 300) << browser.text_of("#refusals");
  module->signal(SIGTERM);
  EXPECT_EQ(module->wait(), 0);
}

// A port that was free a moment ago: nginx takes no port 0.
int free_port() {
  const platform::Fd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(sock.get(), reinterpret_cast<sockaddr*>(&address), size);
  ::getsockname(sock.get(), reinterpret_cast<sockaddr*>(&address), &size);
  return ntohs(address.sin_port);
}

// The README's nginx block (its fenced block from limit_conn_zone on), to listen on front
// without TLS and pass to serve's port.
std::string readme_front_server(int front, int port) {
  const std::string readme = read_text(std::string(DEXWEB_SCHEMA_DIR) + "/../README.md");
  const auto start = readme.rfind('\n', readme.find("limit_conn_zone ")) + 1;
  const auto end = readme.find("\n```", start) + 1;
  std::string conf;
  std::istringstream lines(readme.substr(start, end - start));
  for (std::string line; std::getline(lines, line);)
    if (line.find("ssl_certificate") == std::string::npos) conf += line + "\n";
  conf = std::regex_replace(conf, std::regex("listen 443 ssl;"), "listen 127.0.0.1:" + std::to_string(front) + ";");
  return std::regex_replace(conf, std::regex("127\\.0\\.0\\.1:8080"), "127.0.0.1:" + std::to_string(port));
}

TEST_F(CtlServeFront, NginxInFrontPassesTheFormAndNothingElse) {
  if (!std::filesystem::exists(kNginx)) GTEST_SKIP() << "nginx is not installed";
  const Served server = serve(home, {"--server-name", "form.example.org"});
  ASSERT_GT(server.port, 0);
  const int front = free_port();
  const std::string conf = readme_front_server(front, server.port);
  ASSERT_TRUE(conf.find("proxy_set_header Host $host;") != std::string::npos) << conf;
  write_text(dir.file("nginx.conf"), "daemon off; master_process off; pid nginx.pid; error_log error.log;\nevents {}\n"
                                     "http {\naccess_log off; client_body_temp_path body; proxy_temp_path proxy;\n"
                                     "fastcgi_temp_path fastcgi; uwsgi_temp_path uwsgi; scgi_temp_path scgi;\n" + conf + "}\n");
  ChildProcess nginx({kNginx, "-p", dir.dir(), "-c", dir.file("nginx.conf"), "-e", dir.file("error.log")}, {});
  ASSERT_TRUE(wait_until([&] { return bool(connect_from("127.0.0.1", front)); })) << read_text(dir.file("error.log")) << conf;

  // A browser at https://form.example.org:PORT/ as nginx passes it on.
  httplib::Client client("127.0.0.1", front);
  const std::string name = "form.example.org:" + std::to_string(front);
  const auto page = client.Get("/", {{"Host", name}});
  ASSERT_TRUE(page);
  ASSERT_EQ(page->status, 200) << page->body;
  const std::string token = form_token(page->body);
  ASSERT_FALSE(token.empty()) << page->body;
  const auto post = [&](const std::string& message) {
    return client.Post("/submit", {{"Host", name}, {"Origin", "https://" + name}},
                       httplib::MultipartFormDataItems{{"token", token, "", ""}, {"account", "sales", "", ""}, {"message", message, "", ""}});
  };
  const auto sent = post("through nginx");
  ASSERT_TRUE(sent);
  EXPECT_EQ(sent->status, 200) << sent->body;
  const auto files = files_in(home + "web");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(read_text(home + "web/" + files[0]), "user=sales\r\nfrm=\r\nsubject=\r\nmsg=through nginx\r\n");

  EXPECT_EQ(post(std::string(300 * 1024, 'm'))->status, 413);
  EXPECT_EQ(client.Get("/status", {{"Host", name}})->status, 404);
  EXPECT_EQ(client.Get("/", {{"Host", "attacker.example"}})->status, 421);
  EXPECT_EQ(files_in(home + "web").size(), 1u);
}

}  // namespace
}  // namespace dexweb::test
