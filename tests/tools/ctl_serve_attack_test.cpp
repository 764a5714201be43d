// dexwebctl serve against hostile clients over real sockets: requests too large to keep,
// compressed bodies, slow and idle clients by the thousand, pollers of the status pages.
// After each attack the server's peak memory stays small, and a form posted by another
// client during it is answered (while the attackers are still connected, where they hold
// connections). How fast is the benchmark's to say, not these tests'.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/resource.h>

#include <atomic>
#include <regex>
#include <thread>

#include "support/ctl_runner.h"
#include "support/raw_http.h"
#include "support/temp_dir.h"

namespace dexweb::test {
namespace {

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

class CtlServeAttack : public GatewayHome {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(GatewayHome::SetUp());
    served = serve(home);
    ASSERT_GT(served.port, 0) << served.process->stderr_text();
    site = "http://127.0.0.1:" + std::to_string(served.port);
  }

  // Seconds until a form that 127.0.0.1 loads and posts is answered as queued; kNotAnswered
  // when it is not.
  double probe() const {
    const auto start = std::chrono::steady_clock::now();
    httplib::Client client("127.0.0.1", served.port);
    client.set_connection_timeout(30);
    client.set_read_timeout(30);
    const auto page = client.Get("/");
    const std::string token = page ? form_token(page->body) : std::string();
    if (token.empty()) return kNotAnswered;
    const httplib::MultipartFormDataItems form{{"token", token, "", ""}, {"account", "sales", "", ""}, {"message", "probe", "", ""}};
    const auto res = client.Post("/submit", {{"Origin", site}}, form);
    if (!res || res->status != 200) return kNotAnswered;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  long peak_kib() const { return peak_rss_kib(served.process->pid()); }

  Served served;
  std::string site;
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
      httplib::Client client("127.0.0.1", served.status_port);
      while (!stop.stop_requested()) answered += client.Get("/metrics") ? 1 : 0;
    });
  ASSERT_TRUE(wait_until([&] { return answered >= 32; }, 60));
  const double took = probe();
  EXPECT_LT(took, kNotAnswered);
  std::printf("form posted among the pollers in %.3f s\n", took);
}

}  // namespace
}  // namespace dexweb::test
