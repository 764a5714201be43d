// The benchmark's helpers around an intake program (the module or the reference):
//
//   bench_files make FOLDER COUNT CHARS
//       writes COUNT web message files (account "staff", recipients "bob amy joe", a message
//       of CHARS characters), each with its own modification time, oldest first.
//   bench_files pickup DATABASE FOLDER SAMPLES
//       for each sample: waits a random 100..400 ms (so that samples fall anywhere in the
//       program's timer cycle), writes a file beside the folder and renames it in, then
//       watches the messages table until its row is committed. Prints the latencies in
//       milliseconds, one a line.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>

namespace {

std::string web_file(long i, long chars) {
  return "user=staff\r\nfrm=bench\r\nsubject=bob amy joe\r\nmsg=" + std::to_string(i) + " " +
         std::string(static_cast<std::size_t>(chars), 'x') + "\r\n";
}

bool write_file(const std::string& path, const std::string& text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return ::close(fd) == 0 && ok;
}

int make(const std::string& folder, long count, long chars) {
  const auto base = std::chrono::system_clock::now() - std::chrono::hours(1);
  for (long i = 0; i < count; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "bench%07ld.msg", i);
    const std::string path = folder + name;
    if (!write_file(path, web_file(i, chars))) return std::perror(path.c_str()), 1;
    const auto at = std::chrono::duration_cast<std::chrono::nanoseconds>((base + std::chrono::milliseconds(i)).time_since_epoch());
    struct timespec times[2] = {{at.count() / 1'000'000'000, at.count() % 1'000'000'000}, {}};
    times[1] = times[0];
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
  }
  return 0;
}

long long row_count(sqlite3* db) {
  sqlite3_stmt* st = nullptr;
  long long n = -1;
  if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM [messages]", -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
    n = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  return n;
}

int pickup(const std::string& database, const std::string& folder, int samples) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return 1;
  sqlite3_busy_timeout(db, 1000);
  std::mt19937 random(42);
  std::uniform_int_distribution<int> idle(100, 400);
  const std::string beside = folder.substr(0, folder.find_last_of('/', folder.size() - 2) + 1);
  for (int i = 0; i < samples; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(idle(random)));
    const long long before = row_count(db);
    const std::string name = "pickup" + std::to_string(i) + ".msg";
    if (!write_file(beside + name + ".part", web_file(i, 100))) return 1;
    const auto start = std::chrono::steady_clock::now();
    if (::rename((beside + name + ".part").c_str(), (folder + name).c_str()) != 0) return 1;
    const auto give_up = start + std::chrono::seconds(30);
    while (row_count(db) <= before && std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    const auto took = std::chrono::steady_clock::now() - start;
    std::printf("%.1f\n", std::chrono::duration<double, std::milli>(took).count());
    std::fflush(stdout);
    // The program is idle again only once the file has gone.
    struct stat st {};
    while (::stat((folder + name).c_str(), &st) == 0 && std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  sqlite3_close(db);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "make") == 0) {
    std::string folder = argv[2];
    if (folder.back() != '/') folder += '/';
    return make(folder, std::atol(argv[3]), std::atol(argv[4]));
  }
  if (argc == 5 && std::strcmp(argv[1], "pickup") == 0) {
    std::string folder = argv[3];
    if (folder.back() != '/') folder += '/';
    return pickup(argv[2], folder, std::atoi(argv[4]));
  }
  std::fprintf(stderr, "usage: %s make FOLDER COUNT CHARS | pickup DATABASE FOLDER SAMPLES\n", argv[0]);
  return 2;
}
