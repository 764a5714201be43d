// dexwebctl serve, reached over real HTTP on free loopback ports: the form writes exactly
// the message file that the module reads, refuses what it must without writing anything,
// escapes what it shows, and shows the gateway's status to the operator alone. It answers
// only to its own names, takes posts only from its own form and keeps its port to itself.
#include <gtest/gtest.h>
#include <httplib.h>

#include <regex>

#include "support/ctl_runner.h"
#include "support/raw_http.h"
#include "support/temp_dir.h"
#include "util/text.h"

namespace dexweb::test {
namespace {

class CtlServe : public GatewayHome {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(GatewayHome::SetUp());
    served = serve(home, {"--server-name", "form.example"});
    port = served.port;
    ASSERT_GT(port, 0) << served.process->stderr_text();
    ASSERT_GT(served.status_port, 0) << served.process->stdout_text();
    site = "http://127.0.0.1:" + std::to_string(port);
    client = std::make_unique<httplib::Client>("127.0.0.1", port);
    operator_client = std::make_unique<httplib::Client>("127.0.0.1", served.status_port);
    const auto page = client->Get("/");
    ASSERT_TRUE(page);
    token = form_token(page->body);
    ASSERT_FALSE(token.empty()) << page->body;
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

  Served served;
  int port = 0;
  std::string site;   // the form page's origin
  std::string token;  // the form page's token
  std::unique_ptr<httplib::Client> client;           // the public's listener
  std::unique_ptr<httplib::Client> operator_client;  // the operator's
};

TEST_F(CtlServe, TheFormPageOffersTheBoundedFieldsAndTheStatusPagesAreTheOperators) {
  const auto res = client->Get("/");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_TRUE(has(res->get_header_value("Content-Security-Policy"), "default-src 'none'"));
  for (const char* field : {R"(name="account" type="text" maxlength="40" required)", R"(name="sender" type="text" maxlength="80")",
                            R"(name="recipients" type="text" maxlength="2000")", R"(name="message" rows="8" maxlength="16000" required)",
                            R"(enctype="multipart/form-data")"})
    EXPECT_TRUE(has(res->body, field)) << field;
  EXPECT_FALSE(has(res->body, "/status")) << res->body;

  // The operator's pages are not published with the form; /healthz is on both listeners.
  // Every refusal says why.
  struct Case {
    const char* path;
    int on_public, on_operator;
  };
  for (const Case& c : {Case{"/status", 404, 200}, Case{"/status.json", 404, 200}, Case{"/metrics", 404, 200},
                        Case{"/healthz", 503, 503}, Case{"/nothing-here", 404, 404}}) {
    const auto seen = client->Get(c.path), seen_by_operator = operator_client->Get(c.path);
    ASSERT_TRUE(seen && seen_by_operator) << c.path;
    EXPECT_EQ(seen->status, c.on_public) << c.path;
    EXPECT_EQ(seen_by_operator->status, c.on_operator) << c.path;
    EXPECT_FALSE(seen->body.empty()) << c.path;
  }
  EXPECT_TRUE(has(client->Get("/nothing-here")->body, "There is no page at /nothing-here."));
  EXPECT_EQ(client->Get("/healthz")->body, "not running: nobody holds this home's instance lock\n");
  EXPECT_TRUE(has(operator_client->Get("/")->body, R"(<a href="/status">Status</a>)"));

  // The operator's status page refreshes itself and shows the gateway's facts escaped
  // (read again at most once a second).
  ASSERT_EQ(post(form("sales", "hi"))->status, 200);
  const std::string posted = written()[0];
  write_text(home + "web/<img src=x>.msg", "user=bob\r\nmsg=x\r\n");
  std::string page;
  ASSERT_TRUE(wait_until([&] {
    const auto got = operator_client->Get("/status");
    page = got && got->status == 200 ? got->body : "";
    return has(page, "<h2>Waiting (2)");
  })) << page;
  expect_all(page, {R"(<meta http-equiv="refresh" content="5">)",
                          "(dexweb_run true, dexweb_pause false, dexweb_state false)",
                          "<h2>Waiting (2)</h2><p>" + home + "web/</p>", posted});
  EXPECT_FALSE(has(page, "<img"));
  EXPECT_TRUE(has(page, "&lt;img src=x&gt;.msg"));
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
  EXPECT_FALSE(has(res->body, "/status")) << res->body;
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

TEST_F(CtlServe, ARefusedFormWritesNothingSaysWhyAndComesBackEscaped) {
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
  EXPECT_TRUE(has(huge->body, "body is larger than 262144 bytes.")) << huge->body;

  // The refused form comes back filled in, escaped.
  const auto res = post({{"account", ""}, {"sender", "<script>alert('x')</script>"}, {"message", "a & \"b\""}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 400);
  EXPECT_FALSE(has(res->body, "<script>"));
  EXPECT_TRUE(has(res->body, R"(value="&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;")")) << res->body;
  EXPECT_TRUE(has(res->body, ">a &amp; &quot;b&quot;</textarea>")) << res->body;
  EXPECT_TRUE(written().empty());
}

TEST_F(CtlServe, PostsFromOtherSitesOrWithoutTheFormTokenWriteNothing) {
  // What a page elsewhere makes the operator's browser send: the right token cannot help it.
  const std::vector<httplib::Headers> foreign{
      {{"Origin", "http://attacker.example"}},
      {{"Origin", "http://127.0.0.1:" + std::to_string(port + 1)}},
      {{"Origin", "null"}},
      {{"Referer", "http://attacker.example/page.html"}},
      {{"Origin", "http://attacker.example"}, {"Referer", site + "/"}},
      {{"Origin", "http://form.example.attacker.example"}},
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

  // A page of another site whose own name resolves to this server (DNS rebinding) sends
  // that name as Host: it is not served, not even the form's token.
  const std::string rebound = "attacker.example:" + std::to_string(port);
  EXPECT_EQ(client->Get("/", {{"Host", rebound}})->status, 421);
  const auto rebinding = post(form("sales", "rebound"), {{"Host", rebound}, {"Origin", "http://" + rebound}});
  ASSERT_TRUE(rebinding);
  EXPECT_EQ(rebinding->status, 421);
  EXPECT_TRUE(has(rebinding->body, "This server does not answer to the name attacker.example:")) << rebinding->body;
  EXPECT_EQ(status_of(exchange("127.0.0.1", port, "GET / HTTP/1.0\r\n\r\n")), 400);
  EXPECT_TRUE(written().empty());

  // The form as the browser posts it from this site, Origin or Referer naming one of its
  // names: its address, or the name given to the server (with any port, as behind a proxy).
  EXPECT_EQ(post(form("sales", "one"))->status, 200);
  EXPECT_EQ(post(form("sales", "two"), {{"Referer", site + "/"}})->status, 200);
  EXPECT_EQ(post(form("sales", "three"), {{"Origin", "HTTP://127.0.0.1:" + std::to_string(port)}})->status, 200);
  EXPECT_EQ(post(form("sales", "four"), {{"Host", "form.example"}, {"Origin", "https://FORM.example"}})->status, 200);
  EXPECT_EQ(written().size(), 4u);
}

// A request is framed one way only, so that a proxy in front cannot read it differently:
// what could be read two ways is refused, and a chunked form, or one that waits for
// "100 Continue", arrives as sent.
TEST_F(CtlServe, RequestsAreFramedOneWayOnly) {
  const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
  const std::string post = "POST /submit HTTP/1.1\r\n" + host + "Origin: " + site + "\r\nContent-Type: multipart/form-data; boundary=b\r\n";
  std::string body;
  for (const auto& [name, value] : {std::pair{"token", token}, {"account", "sales"}, {"message", "framed"}})
    body += "--b\r\nContent-Disposition: form-data; name=\"" + std::string(name) + "\"\r\n\r\n" + value + "\r\n";
  body += "--b--\r\n";
  const auto hex = [](std::size_t n) { char text[16]; std::snprintf(text, sizeof text, "%zx", n); return std::string(text); };
  const std::string chunked = hex(10) + ";ext=1\r\n" + body.substr(0, 10) + "\r\n" + hex(body.size() - 10) + "\r\n" + body.substr(10) + "\r\n0\r\nX-Trailer: t\r\n\r\n";
  struct Case {
    std::string request;
    int status;
  };
  for (const Case& c : {Case{post + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
                        Case{post + "Content-Length: 5\r\nContent-Length: 6\r\n\r\nabcdef", 400},
                        Case{post + "Transfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n", 501},
                        Case{"GET / HTTP/1.1\r\n" + host + "X-Folded: a\r\n b\r\n\r\n", 400},
                        Case{"GET / HTTP/2.0\r\n" + host + "\r\n", 505},
                        Case{"GET / HTTP/1.1\r\n" + host + "Expect: later\r\n\r\n", 417},
                        Case{"PUT /submit HTTP/1.1\r\n" + host + "Content-Length: 0\r\n\r\n", 405},
                        Case{post + "Transfer-Encoding: chunked\r\n\r\n" + chunked, 200}}) {
    const std::string answer = exchange("127.0.0.1", port, c.request);
    EXPECT_EQ(status_of(answer), c.status) << c.request << "\n" << answer;
  }
  const platform::Fd waiting = connect_from("127.0.0.1", port);
  const std::string head = post + "Expect: 100-continue\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  ::send(waiting.get(), head.data(), head.size(), MSG_NOSIGNAL);
  EXPECT_TRUE(readable(waiting.get(), 5));
  char continued[64] = {};
  ::recv(waiting.get(), continued, sizeof continued - 1, 0);
  EXPECT_STREQ(continued, "HTTP/1.1 100 Continue\r\n\r\n");
  ::send(waiting.get(), body.data(), body.size(), MSG_NOSIGNAL);
  EXPECT_EQ(status_of(read_answer(waiting.get(), 10)), 200);
  EXPECT_EQ(written().size(), 2u);
}

// Two servers on one port would each receive some of the posts, for two different gateways.
TEST_F(CtlServe, ASecondServerOnTheSamePortFailsAndAnIpv6AddressIsGivenInBrackets) {
  const std::string other = dir.dir() + "other/";
  ASSERT_EQ(run_ctl({"init", other}), 0);
  ChildProcess second(ctl_argv({"serve", "--home", other, "--listen", "127.0.0.1:" + std::to_string(port)}), {});
  EXPECT_EQ(second.wait(15), 1);
  EXPECT_TRUE(has(second.stderr_text(), "Cannot listen on 127.0.0.1:" + std::to_string(port) + ": another program listens"))
      << second.stderr_text();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(post(form("sales", "m" + std::to_string(i)))->status, 200);
  EXPECT_EQ(written().size(), 4u);

  // An IPv6 address is written in brackets, as in a URL.
  ChildProcess v6(ctl_argv({"serve", "--home", home, "--listen", "[::1]:0", "--status-listen", "off"}), {});
  const int v6_port = announced_port([&] { return v6.stdout_text(); }, "serving http://\\[::1\\]");
  ASSERT_GT(v6_port, 0) << v6.stdout_text() << v6.stderr_text();
  const std::string answer = exchange("::1", v6_port, "GET / HTTP/1.1\r\nHost: [::1]:" + std::to_string(v6_port) + "\r\n\r\n");
  EXPECT_EQ(status_of(answer), 200) << answer;
}

}  // namespace
}  // namespace dexweb::test
