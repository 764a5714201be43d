// dexwebctl serve, reached over real HTTP on a free loopback port: the form writes exactly
// the message file that the module reads, refuses what it must without writing anything,
// escapes what it shows, and shows the gateway's status. It takes posts only from its own
// form, keeps its port to itself and stays reachable while some clients stall.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <condition_variable>
#include <mutex>
#include <regex>
#include <stop_token>
#include <thread>

#include "platform/fd.h"
#include "support/temp_dir.h"
#include "tools/ctl_runner.h"
#include "util/text.h"

namespace dexweb::test {
namespace {

class CtlServe : public GatewayHome {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(GatewayHome::SetUp());
    server = serve(home, port);
    ASSERT_GT(port, 0) << server->stderr_text();
    site = "http://127.0.0.1:" + std::to_string(port);
    client = std::make_unique<httplib::Client>("127.0.0.1", port);
    const auto page = client->Get("/");
    ASSERT_TRUE(page);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(page->body, m, std::regex(R"re(<input name="token" type="hidden" value="([0-9a-f]{32})">)re")))
        << page->body;
    token = m[1];
  }

  // As a browser posts the form page: multipart, with the page's token and Origin.
  httplib::Result post(const httplib::Params& fields, const httplib::Headers& headers = {}) {
    httplib::MultipartFormDataItems items{{"token", token, "", ""}};
    for (const auto& [name, value] : fields) items.push_back({name, value, "", ""});
    return client->Post("/submit", headers.empty() ? httplib::Headers{{"Origin", site}} : headers, items);
  }

  std::vector<std::string> written() { return files_in(home + "web"); }

  static httplib::Params form(const std::string& account, const std::string& message) {
    return {{"account", account}, {"sender", "Pat"}, {"recipients", "bob amy"}, {"message", message}};
  }

  std::unique_ptr<ChildProcess> server;
  int port = 0;
  std::string site;   // the form page's origin
  std::string token;  // the form page's token
  std::unique_ptr<httplib::Client> client;
};

TEST_F(CtlServe, TheFormPageOffersTheBoundedFields) {
  const auto res = client->Get("/");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_TRUE(has(res->get_header_value("Content-Security-Policy"), "default-src 'none'"));
  for (const char* field : {R"(name="account" type="text" maxlength="40" required)", R"(name="sender" type="text" maxlength="80")",
                            R"(name="recipients" type="text" maxlength="2000")", R"(name="message" rows="8" maxlength="16000" required)",
                            R"(enctype="multipart/form-data")"})
    EXPECT_TRUE(has(res->body, field)) << field;
  EXPECT_EQ(client->Get("/nothing-here")->status, 404);
}

TEST_F(CtlServe, AnAcceptedFormBecomesExactlyTheMessageFile) {
  const auto res = post(form("Sales", "two\nlines, Grüße"));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200) << res->body;
  const auto files = written();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(files[0].ends_with(".msg"));
  // The module has not decided yet: the page says queued, names the file and points to the
  // status page, where the outcome shows.
  EXPECT_TRUE(has(res->body, "<h1>Message queued for delivery</h1>")) << res->body;
  EXPECT_TRUE(has(res->body, "The message was queued as <code>" + files[0] + "</code>")) << res->body;
  EXPECT_TRUE(has(res->body, R"(href="/status")")) << res->body;
  EXPECT_EQ(text::ifind(res->body, "accepted"), std::string::npos) << res->body;
  EXPECT_EQ(read_text(home + "web/" + files[0]),
            "user=Sales\r\nfrm=Pat\r\nsubject=bob amy\r\nmsg=two\r\nlines, Gr\xC3\xBC\xC3\x9F" "e\r\n");

  // Fields at their limits pass; characters are counted, not bytes.
  std::string wide;
  for (int i = 0; i < 16000; ++i) wide += "\xF0\x9F\x93\x9F";  // a four-byte character
  const auto widest = post({{"account", std::string(40, 'a')}, {"sender", std::string(80, 's')},
                            {"recipients", std::string(2000, 'r')}, {"message", wide}});
  ASSERT_TRUE(widest);
  EXPECT_EQ(widest->status, 200);
  EXPECT_EQ(written().size(), 2u);

  // A small URL-encoded post, as a script would send (no Origin, no Referer), works the same
  // with the form's token.
  const auto encoded = client->Post("/submit", httplib::Params{{"token", token}, {"account", "bob"}, {"message", "x"}});
  ASSERT_TRUE(encoded);
  EXPECT_EQ(encoded->status, 200);
  EXPECT_EQ(written().size(), 3u);
}

TEST_F(CtlServe, ARefusedFormWritesNothingAndSaysWhy) {
  struct Case {
    httplib::Params fields;
    const char* problem;
  };
  const std::vector<Case> cases{
      {form("sales\r\nmsg=injected", "x"), "Account must be one line"},
      {{{"account", "sales"}, {"sender", "Pat\nuser=other"}, {"message", "x"}}, "Sender must be one line"},
      {{{"account", "sales"}, {"recipients", "bob\ramy"}, {"message", "x"}}, "Recipients must be one line"},
      {form("sales", std::string("nul\0byte", 8)), "Message holds a control character"},
      {form(std::string(41, 'a'), "x"), "Account is longer than 40 characters"},
      {{{"account", "sales"}, {"sender", std::string(81, 's')}, {"message", "x"}}, "Sender is longer than 80"},
      {{{"account", "sales"}, {"recipients", std::string(2001, 'r')}, {"message", "x"}}, "Recipients is longer than 2000"},
      {form("sales", std::string(16001, 'm')), "Message is longer than 16000"},
      {form("   ", "x"), "Account is required"},
      {{{"account", "sales"}}, "Message is required"},
      {{{"account", "sales"}, {"account", "bob"}, {"message", "x"}}, "Account was sent more than once"},
      {form("sales\xFF", "x"), "Account is not UTF-8"},
  };
  for (const Case& c : cases) {
    const auto res = post(c.fields);
    ASSERT_TRUE(res) << c.problem;
    EXPECT_EQ(res->status, 400) << c.problem;
    EXPECT_TRUE(has(res->body, c.problem)) << c.problem << "\n" << res->body;
  }
  EXPECT_EQ(client->Post("/submit", "token=" + token + "&account=sales&message=%FF", "application/x-www-form-urlencoded")->status, 400);
  const auto huge = post(form("sales", std::string(300 * 1024, 'm')));
  ASSERT_TRUE(huge);
  EXPECT_EQ(huge->status, 413);
  EXPECT_TRUE(written().empty());
}

TEST_F(CtlServe, WhatThePagesShowIsEscaped) {
  const auto res = post({{"account", ""}, {"sender", "<script>alert('x')</script>"}, {"message", "a & \"b\""}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 400);
  EXPECT_FALSE(has(res->body, "<script>"));
  EXPECT_TRUE(has(res->body, R"(value="&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;")")) << res->body;
  EXPECT_TRUE(has(res->body, ">a &amp; &quot;b&quot;</textarea>")) << res->body;
}

TEST_F(CtlServe, TheStatusPageRefreshesItselfWithTheGatewaysFactsEscaped) {
  ASSERT_EQ(post(form("sales", "hi"))->status, 200);
  const std::string posted = written()[0];
  write_text(home + "web/<img src=x>.msg", "user=bob\r\nmsg=x\r\n");
  const auto page = client->Get("/status");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_TRUE(has(page->body, R"(<meta http-equiv="refresh" content="5">)"));
  EXPECT_TRUE(has(page->body, "(dexweb_run true, dexweb_pause false, dexweb_state false)"));
  EXPECT_TRUE(has(page->body, "<h2>Waiting (2)</h2><p>" + home + "web/</p>")) << page->body;
  EXPECT_TRUE(has(page->body, posted));
  EXPECT_FALSE(has(page->body, "<img"));
  EXPECT_TRUE(has(page->body, "&lt;img src=x&gt;.msg"));
}

TEST_F(CtlServe, PostsFromOtherSitesOrWithoutTheFormTokenWriteNothing) {
  // What a page elsewhere makes the operator's browser send: the right token cannot help it.
  const std::vector<httplib::Headers> foreign{
      {{"Origin", "http://attacker.example"}},
      {{"Origin", "http://127.0.0.1:" + std::to_string(port + 1)}},
      {{"Origin", "null"}},
      {{"Referer", "http://attacker.example/page.html"}},
      {{"Origin", "http://attacker.example"}, {"Referer", site + "/"}},
  };
  for (const httplib::Headers& headers : foreign) {
    const auto res = post(form("sales", "from elsewhere"), headers);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 403) << headers.begin()->second;
    EXPECT_TRUE(has(res->body, "another site")) << res->body;
    EXPECT_FALSE(has(res->body, "from elsewhere")) << res->body;
  }

  // From this site but with a missing or stale token: the form comes back, filled in, with
  // the current token.
  const httplib::MultipartFormDataItems stale{
      {"token", std::string(32, '0'), "", ""}, {"account", "sales", "", ""}, {"message", "kept", "", ""}};
  const auto again = client->Post("/submit", {{"Origin", site}}, stale);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 403);
  EXPECT_TRUE(has(again->body, ">kept</textarea>")) << again->body;
  EXPECT_TRUE(has(again->body, R"(value=")" + token + R"(")")) << again->body;
  const httplib::MultipartFormDataItems tokenless{{"account", "sales", "", ""}, {"message", "x", "", ""}};
  EXPECT_EQ(client->Post("/submit", {{"Referer", site + "/"}}, tokenless)->status, 403);
  // Neither header (a script): the token is what proves it read the form.
  EXPECT_EQ(client->Post("/submit", httplib::Params{{"account", "sales"}, {"message", "x"}})->status, 403);
  EXPECT_EQ(client->Post("/submit", httplib::Params{{"token", token + "0"}, {"account", "sales"}, {"message", "x"}})->status, 403);
  EXPECT_TRUE(written().empty());

  // The form as the browser posts it from this site, Origin or Referer naming it.
  EXPECT_EQ(post(form("sales", "one"))->status, 200);
  EXPECT_EQ(post(form("sales", "two"), {{"Referer", site + "/"}})->status, 200);
  EXPECT_EQ(post(form("sales", "three"), {{"Origin", "HTTP://127.0.0.1:" + std::to_string(port)}})->status, 200);
  EXPECT_EQ(written().size(), 3u);
}

// Clients that open a connection and never finish their request, sending a byte now and then
// so that no read time-out ends them, must not take the server offline.
TEST_F(CtlServe, ClientsThatNeverFinishTheirRequestLeaveRoomForOthers) {
  std::vector<platform::Fd> stalled;
  for (int i = 0; i < 16; ++i) {
    platform::Fd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(sock.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    const std::string start = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
    ASSERT_GT(::send(sock.get(), start.data(), start.size(), MSG_NOSIGNAL), 0);
    stalled.push_back(std::move(sock));
  }
  std::mutex mutex;
  std::condition_variable_any tick;
  std::jthread trickle([&](std::stop_token stop) {
    std::unique_lock lock(mutex);
    while (!tick.wait_for(lock, stop, std::chrono::seconds(1), [&] { return stop.stop_requested(); }))
      for (const platform::Fd& sock : stalled) ::send(sock.get(), "a", 1, MSG_NOSIGNAL);
  });

  httplib::Client fresh("127.0.0.1", port);
  fresh.set_connection_timeout(15);
  fresh.set_read_timeout(15);
  const auto res = fresh.Get("/");
  ASSERT_TRUE(res) << httplib::to_string(res.error());
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(post(form("sales", "still here"))->status, 200);
}

// Two servers on one port would each receive some of the posts, for two different gateways.
TEST_F(CtlServe, ASecondServerOnTheSamePortFailsInsteadOfSharingIt) {
  const std::string other = dir.dir() + "other/";
  ASSERT_EQ(run_ctl({"init", other}), 0);
  ChildProcess second(ctl_argv({"serve", "--home", other, "--listen", "127.0.0.1:" + std::to_string(port)}), {});
  EXPECT_EQ(second.wait(15), 1);
  EXPECT_TRUE(has(second.stderr_text(), "Cannot listen on 127.0.0.1:" + std::to_string(port) + ": another program listens"))
      << second.stderr_text();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(post(form("sales", "m" + std::to_string(i)))->status, 200);
  EXPECT_EQ(written().size(), 4u);
}

}  // namespace
}  // namespace dexweb::test
