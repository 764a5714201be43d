// dexwebctl serve, reached over real HTTP on free loopback ports: the form writes exactly
// the message file that the module reads, refuses what it must without writing anything,
// escapes what it shows, and shows the gateway's status to the operator alone. It answers
// only to its own names, takes posts only from its own form and keeps its port to itself.
// Against hostile clients over real sockets (requests too large to keep, compressed bodies,
// slow and idle clients by the thousand, pollers of the status pages) its peak memory stays
// small and a form posted by another client meanwhile is answered; how fast is the
// benchmark's to say. Real programs in front of it: a browser (headless Chromium driven
// through chromedriver's WebDriver protocol) and nginx configured as the README shows, each
// skipped where it is not installed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string_view>
#include <thread>

#include "platform/files.h"
#include "support/ctl_runner.h"
#include "support/temp_dir.h"
#include "util/text.h"

namespace dexweb::test {
namespace {

// HTTP as a hostile client speaks it: raw TCP connections from chosen loopback addresses
// (all of 127.0.0.0/8 is this machine's, so each test client can have an address of its
// own), bytes sent as the test likes, answers read within a time limit.

// A blocking connection from source ("127.x.y.z", or "::1" for IPv6) to port on the same
// family's loopback address; an empty Fd when it failed.
platform::Fd connect_from(const std::string& source, int port) {
  const bool v6 = source.find(':') != std::string::npos;
  platform::Fd sock(::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in from4{}, to4{};
  sockaddr_in6 from6{}, to6{};
  from4.sin_family = to4.sin_family = AF_INET;
  from6.sin6_family = to6.sin6_family = AF_INET6;
  to4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to6.sin6_addr = in6addr_loopback;
  to4.sin_port = to6.sin6_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(v6 ? AF_INET6 : AF_INET, source.c_str(), v6 ? static_cast<void*>(&from6.sin6_addr) : &from4.sin_addr);
  const socklen_t size = v6 ? sizeof from6 : sizeof from4;
  if (!sock || ::bind(sock.get(), v6 ? reinterpret_cast<sockaddr*>(&from6) : reinterpret_cast<sockaddr*>(&from4), size) != 0 ||
      ::connect(sock.get(), v6 ? reinterpret_cast<sockaddr*>(&to6) : reinterpret_cast<sockaddr*>(&to4), size) != 0)
    return {};
  return sock;
}

// Whether anything (or the end) can be read within seconds.
bool readable(int fd, double seconds) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(seconds * 1000)) > 0;
}

// What arrives until the server closes or seconds pass.
std::string read_answer(int fd, double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  std::string answer;
  char buffer[16384];
  for (;;) {
    const double left = std::chrono::duration<double>(until - std::chrono::steady_clock::now()).count();
    if (left <= 0 || !readable(fd, left)) return answer;
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return answer;
    answer.append(buffer, static_cast<std::size_t>(got));
  }
}

// Sends head, then piece again and again up to total bytes, and stops sending as soon as the
// server answers or closes; returns the answer (read until the server closes, or seconds).
std::string send_until_answered(int fd, std::string_view head, std::string_view piece, std::size_t total,
                                       double seconds = 20) {
  std::string out(head);
  std::size_t queued = 0;
  for (;;) {
    if (out.empty() && queued < total) {
      out = piece;
      queued += piece.size();
    }
    pollfd p{fd, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0};
    if (::poll(&p, 1, static_cast<int>(seconds * 1000)) <= 0 || (p.revents & (POLLIN | POLLHUP | POLLERR))) break;
    const ssize_t sent = ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
    if (sent < 0) break;
    out.erase(0, static_cast<std::size_t>(sent));
  }
  return read_answer(fd, seconds);
}

// The status code of an answer ("HTTP/1.1 413 ..." gives 413), 0 when there is none.
int status_of(const std::string& answer) {
  return answer.starts_with("HTTP/1.1 ") && answer.size() >= 12 ? std::atoi(answer.substr(9, 3).c_str()) : 0;
}

std::string body_of(const std::string& answer) {
  const auto end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

// One request from source, and the whole answer.
std::string exchange(const std::string& source, int port, const std::string& request, double seconds = 10) {
  const platform::Fd sock = connect_from(source, port);
  if (!sock || ::send(sock.get(), request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) return {};
  return read_answer(sock.get(), seconds);
}

// ---- the form and the status pages ----

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
    client->set_read_timeout(30);  // answers come late while hostile clients press
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

// ---- hostile clients ----

constexpr long kMaxPeakKib = 48 * 1024;
// web_connections.h's limits.
constexpr double kRequestSeconds = 10;
// What probe() gives for a form that was not answered.
constexpr double kNotAnswered = 86400;
constexpr std::size_t kMaxConnectionsPerClient = 16;
constexpr std::size_t MiB = 1 << 20;

// Attackers' addresses: each client one of its own.
std::string loopback(int group, int i) {
  return "127." + std::to_string(group) + "." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
}

class CtlServeAttack : public CtlServe {
 protected:
  // Seconds until a form that 127.0.0.1 loads and posts is answered as queued; kNotAnswered
  // when it is not.
  double probe() {
    const auto start = std::chrono::steady_clock::now();
    const auto page = client->Get("/");
    if (!page || (token = form_token(page->body)).empty()) return kNotAnswered;
    const auto res = post(form("sales", "probe"));
    if (!res || res->status != 200) return kNotAnswered;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  // The server's peak resident memory in KiB (VmHWM), 0 when unknown.
  long peak_kib() const {
    std::ifstream status("/proc/" + std::to_string(served.process->pid()) + "/status");
    for (std::string line; std::getline(status, line);)
      if (line.starts_with("VmHWM:")) return std::atol(line.c_str() + 6);
    return 0;
  }
};

TEST_F(CtlServeAttack, RequestsTooLargeToKeepAreRefusedBeforeTheyAreRead) {
  const std::string host = "Host: 127.0.0.1:" + std::to_string(served.port) + "\r\n";
  const std::string post = "POST /submit HTTP/1.1\r\n" + host;
  const std::string block(64 * 1024, 'x');
  struct Case {
    const char* attack;
    std::string head, piece;
    std::size_t total;
    int status;
  };
  const std::vector<Case> cases{
      {"a chunked body of 256 MiB", post + "Transfer-Encoding: chunked\r\n\r\n", "10000\r\n" + block + "\r\n", 256 * MiB, 413},
      {"a declared body of 256 MiB", post + "Content-Length: 268435456\r\n\r\n", block, 256 * MiB, 413},
      {"a body of 128 MiB without a length", post + "\r\n", block, 128 * MiB, 411},
      {"a gzip body", post + "Content-Encoding: gzip\r\nContent-Length: 203860\r\n\r\n", std::string(203860, '\0'), 203860, 415},
      {"512 MiB of 8,000-byte header lines", "GET / HTTP/1.1\r\n" + host, "X-Pad: " + std::string(7991, 'x') + "\r\n", 512 * MiB, 431},
      // Answered before the line ends, rather than after it was read whole.
      {"a request line still going after 8 KiB", "GET /", std::string(8 * 1024, 'a'), 8 * 1024, 414},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    const platform::Fd sock = connect_from(loopback(4, static_cast<int>(i)), served.port);
    ASSERT_TRUE(sock) << c.attack;
    const std::string answer = send_until_answered(sock.get(), c.head, c.piece, c.total);
    EXPECT_EQ(status_of(answer), c.status) << c.attack << "\n" << answer.substr(0, 300);
    EXPECT_FALSE(body_of(answer).empty()) << c.attack;
    EXPECT_LT(probe(), kNotAnswered) << c.attack;
    EXPECT_LT(peak_kib(), kMaxPeakKib) << c.attack;
  }
  // Ten at once.
  std::vector<std::jthread> gzips;
  std::atomic<int> refused = 0;
  for (int i = 0; i < 10; ++i)
    gzips.emplace_back([&, i] {
      const platform::Fd sock = connect_from(loopback(5, i), served.port);
      refused += status_of(send_until_answered(sock.get(), cases[3].head, cases[3].piece, cases[3].total)) == 415;
    });
  gzips.clear();
  EXPECT_EQ(refused, 10);
  EXPECT_LT(peak_kib(), kMaxPeakKib);
}

TEST_F(CtlServeAttack, SlowAndIdleClientsByTheThousandKeepNobodyOut) {
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = std::max<rlim_t>(files.rlim_cur, std::min<rlim_t>(files.rlim_max, 4096));
  ::setrlimit(RLIMIT_NOFILE, &files);
  std::vector<platform::Fd> idle, trickling;
  for (int i = 0; i < 1000; ++i) idle.push_back(connect_from(loopback(1, i), served.port));
  const std::string start = "POST /submit HTTP/1.1\r\nX-Slow: ";
  for (int i = 0; i < 64; ++i) {
    trickling.push_back(connect_from(loopback(2, i), served.port));
    ::send(trickling.back().get(), start.data(), start.size(), MSG_NOSIGNAL);
  }
  std::jthread trickle([&](std::stop_token stop) {
    while (!stop.stop_requested()) {
      for (const platform::Fd& sock : trickling) ::send(sock.get(), "a", 1, MSG_NOSIGNAL);
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
  });

  const double took = probe();
  EXPECT_LT(took, kNotAnswered);
  std::printf("form posted during the attack in %.3f s\n", took);
  // Answered while the slow clients still hold their connections: none of them was given up yet.
  for (const platform::Fd& sock : trickling) EXPECT_FALSE(readable(sock.get(), 0));

  // One request has a few seconds in all, however steadily its bytes come.
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(kRequestSeconds + 5);
  for (const platform::Fd& sock : trickling)
    EXPECT_EQ(status_of(read_answer(sock.get(), std::chrono::duration<double>(until - std::chrono::steady_clock::now()).count())), 408);
  char byte;
  for (const platform::Fd& sock : idle) EXPECT_TRUE(readable(sock.get(), 0) && ::recv(sock.get(), &byte, 1, 0) <= 0);

  // One address may hold only a few connections; the rest are closed as they come.
  std::vector<platform::Fd> crowd;
  for (int i = 0; i < 40; ++i) crowd.push_back(connect_from("127.0.3.1", served.port));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::size_t open = 0;
  for (const platform::Fd& sock : crowd) open += !readable(sock.get(), 0);
  EXPECT_EQ(open, kMaxConnectionsPerClient);
  EXPECT_LT(peak_kib(), kMaxPeakKib);
}

TEST_F(CtlServeAttack, AFormIsAnsweredAmongPollersOfTheStatusPages) {
  for (int i = 0; i < 100000; ++i) write_text(home + "web/waiting" + std::to_string(i) + ".msg", "");
  std::atomic<int> answered = 0;
  std::vector<std::jthread> pollers;
  for (int i = 0; i < 16; ++i)
    pollers.emplace_back([&](std::stop_token stop) {
      httplib::Client poller("127.0.0.1", served.status_port);
      while (!stop.stop_requested()) answered += poller.Get("/metrics") ? 1 : 0;
    });
  ASSERT_TRUE(wait_until([&] { return answered >= 32; }, 60));
  const double took = probe();
  EXPECT_LT(took, kNotAnswered);
  std::printf("form posted among the pollers in %.3f s\n", took);
}

// ---- a browser and nginx in front ----

constexpr const char* kChromium = "/usr/bin/chromium";
constexpr const char* kChromedriver = "/usr/bin/chromedriver";
constexpr const char* kElementKey = "element-6066-11e4-a52e-4f735466cecf";
constexpr const char* kNginx = "/usr/sbin/nginx";

std::string json_text(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) out += c == '\n' ? std::string("\\n") : (c == '"' || c == '\\' ? "\\" : "") + std::string(1, c);
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
  // What the driver says of the element (its "rect", its "text") as pattern finds it.
  std::string element(const std::string& css, const std::string& what, const std::string& pattern) {
    const auto res = driver_.Get("/session/" + session_ + "/element/" + find(css) + "/" + what);
    return res ? first_match(res->body, pattern) : std::string();
  }
  std::string text_of(const std::string& css) { return element(css, "text", R"re("value"\s*:\s*"([^"]*)")re"); }

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
  EXPECT_TRUE(wait_until([&] {
    browser.open(operator_site + "/status");
    const std::string page = browser.text_of("body");
    return has(page, "line one") && has(page, "Recipient record not found or web service");
  })) << browser.text_of("body");
  EXPECT_FALSE(browser.text_of("#state").empty());
  browser.resize(1280, 900);
  const std::string width = browser.element("#refusals td.why", "rect", R"re("width"\s*:\s*([0-9.]+))re");
  EXPECT_GE(width.empty() ? 0 : std::stod(width), 300) << browser.text_of("#refusals");
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
