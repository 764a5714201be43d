// The smallest program that does the intake's durable work, as a yardstick for the module:
// list the watched folder (at most 100 ".msg" files, oldest first), read each file, take
// its user=, subject= and msg= fields, look the account and each recipient up, take a
// transaction id from the counters row and insert one messages row per recipient in one
// synchronous SQLite transaction (WAL, synchronous=FULL, as the module), then unlink the
// file. No logging, no monitor, no filters, no refusals: only what every accepted message
// costs at least. DATABASE "postgresql://..." is a PostgreSQL database instead (libpq): the
// users are read once, and a message is one prepared statement that draws the id and inserts
// the rows, one round trip and one commit.
//
//   reference_intake drain DATABASE FOLDER   work until the folder holds no ".msg" file, then
//                                            print: files, CPU µs (user + system), peak RSS KiB
//   reference_intake watch DATABASE FOLDER   work files as they land (inotify) until SIGTERM
#include <dirent.h>
#include <fcntl.h>
#include <libpq-fe.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <type_traits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

volatile std::sig_atomic_t g_stop = 0;
extern "C" void on_term(int) { g_stop = 1; }

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &st_, nullptr) != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(db));
  }
  ~Statement() { sqlite3_finalize(st_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return st_; }
  void text(int i, std::string_view v) { sqlite3_bind_text(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT); }
  bool step() {
    int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(sqlite3_db_handle(st_)));
    return false;
  }
  void reset() {
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
  }

 private:
  sqlite3_stmt* st_ = nullptr;
};

struct Database {
  sqlite3* db = nullptr;
  explicit Database(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("open " + path);
    sqlite3_busy_timeout(db, 5000);
    exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;");
  }
  ~Database() { sqlite3_close(db); }
  void exec(const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(db));
  }
};

// Where accepted messages go: the account's group flag and each member's presence, then the
// rows of one message under one new id.
class Store {
 public:
  virtual ~Store() = default;
  // nullopt when the account is unknown; else whether it is a group.
  virtual std::optional<bool> account(const std::string& user) = 0;
  virtual bool member(const std::string& user) = 0;
  virtual void write(const std::vector<std::string>& to, const std::string& message, const std::string& frm) = 0;
};

class SqliteStore final : public Store {
 public:
  explicit SqliteStore(const std::string& path) : d(path) {}
  std::optional<bool> account(const std::string& user) override {
    account_.text(1, user);
    std::optional<bool> group;
    if (account_.step()) group = sqlite3_column_int(account_.get(), 0) != 0;
    account_.reset();
    return group;
  }
  bool member(const std::string& user) override {
    member_.text(1, user);
    const bool found = member_.step();
    member_.reset();
    return found;
  }
  void write(const std::vector<std::string>& to, const std::string& message, const std::string& frm) override {
    d.exec("BEGIN IMMEDIATE");
    counter_.step();
    const std::string id = std::to_string(sqlite3_column_int64(counter_.get(), 0));
    while (counter_.step()) {
    }
    counter_.reset();
    for (const std::string& r : to) {
      insert_.text(1, r);
      insert_.text(2, message);
      insert_.text(3, frm);
      insert_.text(4, id);
      insert_.text(5, r);
      insert_.text(6, r);
      insert_.step();
      insert_.reset();
    }
    d.exec("COMMIT");
  }

 private:
  Database d;
  Statement account_{d.db, "SELECT [group_list] FROM [users] WHERE [user] = ? LIMIT 1"};
  Statement member_{d.db, "SELECT [user] FROM [users] WHERE [user] = ? LIMIT 1"};
  Statement counter_{d.db, "UPDATE [counters] SET [unique_id] = [unique_id] + 1 RETURNING [unique_id]"};
  Statement insert_{d.db,
                    "INSERT INTO [messages] ([user], [pin], [message], [frm], [date_time_requested], [station], "
                    "[transaction], [original_recipient], [last_recipient]) "
                    "VALUES (?, '', ?, ?, datetime('now', 'localtime'), 4, ?, ?, ?)"};
};

class PgStore final : public Store {
 public:
  explicit PgStore(const std::string& conninfo) : conn_(PQconnectdb(conninfo.c_str()), PQfinish) {
    if (PQstatus(conn_.get()) != CONNECTION_OK) throw std::runtime_error(PQerrorMessage(conn_.get()));
    check(PQexec(conn_.get(), "SELECT lower(\"user\"), group_list FROM users"), PGRES_TUPLES_OK, [&](PGresult* r) {
      for (int i = 0; i < PQntuples(r); ++i) users_[PQgetvalue(r, i, 0)] = PQgetvalue(r, i, 1)[0] == 't';
    });
    check(PQprepare(conn_.get(), "message",
                    "WITH c AS (UPDATE counters SET unique_id = unique_id % 2000000000 + 1 WHERE record_id = 1 "
                    "RETURNING unique_id) "
                    "INSERT INTO messages (\"user\", pin, message, frm, date_time_requested, station, "
                    "\"transaction\", original_recipient, last_recipient) "
                    "SELECT r, '', $2, $3, LOCALTIMESTAMP, 4, c.unique_id, r, r FROM c, unnest($1::text[]) AS r",
                    3, nullptr),
          PGRES_COMMAND_OK, nullptr);
  }
  std::optional<bool> account(const std::string& user) override {
    auto it = users_.find(user);
    if (it == users_.end()) return std::nullopt;
    return it->second;
  }
  bool member(const std::string& user) override { return users_.count(user) > 0; }
  void write(const std::vector<std::string>& to, const std::string& message, const std::string& frm) override {
    std::string array = "{";
    for (const std::string& r : to) {
      if (array.size() > 1) array += ',';
      array += '"';
      for (char c : r) {
        if (c == '"' || c == '\\') array += '\\';
        array += c;
      }
      array += '"';
    }
    array += '}';
    const char* values[] = {array.c_str(), message.c_str(), frm.c_str()};
    check(PQexecPrepared(conn_.get(), "message", 3, values, nullptr, nullptr, 0), PGRES_COMMAND_OK, nullptr);
  }

 private:
  template <typename Fn>
  void check(PGresult* r, ExecStatusType wanted, Fn&& use) {
    std::unique_ptr<PGresult, void (*)(PGresult*)> result(r, PQclear);
    if (PQresultStatus(r) != wanted) throw std::runtime_error(PQerrorMessage(conn_.get()));
    if constexpr (!std::is_same_v<Fn, std::nullptr_t>) use(r);
  }

  std::unique_ptr<PGconn, void (*)(PGconn*)> conn_;
  std::map<std::string, bool> users_;
};

struct Intake {
  Store& store;
  std::string folder;
};

struct Fields {
  std::string user, frm, subject, message;
};

bool starts_with_nocase(std::string_view line, std::string_view key) {
  return line.size() >= key.size() && strncasecmp(line.data(), key.data(), key.size()) == 0;
}

Fields parse(std::string_view text) {
  Fields f;
  while (!text.empty()) {
    std::size_t end = text.find("\r\n");
    std::string_view line = text.substr(0, end);
    if (starts_with_nocase(line, "msg=")) {
      f.message = std::string(text.substr(4));
      while (f.message.size() >= 2 && f.message.ends_with("\r\n")) f.message.resize(f.message.size() - 2);
      break;
    }
    if (starts_with_nocase(line, "user=")) {
      f.user = std::string(line.substr(5));
      std::transform(f.user.begin(), f.user.end(), f.user.begin(), [](unsigned char c) { return std::tolower(c); });
    }
    if (starts_with_nocase(line, "frm=")) f.frm = std::string(line.substr(4));
    if (starts_with_nocase(line, "subject=")) f.subject = std::string(line.substr(8));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 2);
  }
  return f;
}

std::vector<std::string> split_recipients(std::string_view list) {
  std::vector<std::string> out;
  std::string item;
  for (char c : list) {
    if (c == ' ' || c == ',' || c == ';' || c == '\t') {
      if (!item.empty()) out.push_back(std::move(item));
      item.clear();
    } else {
      item += c;
    }
  }
  if (!item.empty()) out.push_back(std::move(item));
  return out;
}

struct Listed {
  std::string name;
  struct timespec modified;
};

std::vector<Listed> list_oldest_first(const std::string& folder) {
  std::vector<Listed> out;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) throw std::runtime_error("list " + folder);
  while (dirent* e = ::readdir(dir)) {
    std::string_view name = e->d_name;
    if (name.size() < 4 || strcasecmp(name.data() + name.size() - 4, ".msg") != 0) continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    out.push_back({std::string(name), st.st_mtim});
    if (out.size() == 100) break;
  }
  ::closedir(dir);
  std::sort(out.begin(), out.end(), [](const Listed& a, const Listed& b) {
    return a.modified.tv_sec != b.modified.tv_sec ? a.modified.tv_sec < b.modified.tv_sec
                                                  : a.modified.tv_nsec < b.modified.tv_nsec;
  });
  return out;
}

std::string read_whole(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return {};
  std::string out;
  char buf[65536];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  return out;
}

void work_file(Intake& in, const std::string& name) {
  const std::string path = in.folder + name;
  const Fields f = parse(read_whole(path));
  const std::optional<bool> group = in.store.account(f.user);
  std::vector<std::string> to;
  if (group && !f.message.empty()) {
    for (const std::string& r : *group ? split_recipients(f.subject) : std::vector<std::string>{f.user})
      if (in.store.member(r)) to.push_back(r);
  }
  if (!to.empty()) in.store.write(to, f.message, f.frm);
  ::unlink(path.c_str());
}

// Works listings until one comes back empty; the number of files worked.
long drain(Intake& in) {
  long worked = 0;
  for (;;) {
    const std::vector<Listed> files = list_oldest_first(in.folder);
    if (files.empty()) return worked;
    for (const Listed& f : files) work_file(in, f.name);
    worked += static_cast<long>(files.size());
  }
}

void watch(Intake& in) {
  int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0 || ::inotify_add_watch(fd, in.folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE) < 0)
    throw std::runtime_error("inotify");
  char buf[4096];
  while (!g_stop) {
    drain(in);
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 1000) > 0)
      while (::read(fd, buf, sizeof buf) > 0) {
      }
  }
  ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[1], "drain") != 0 && std::strcmp(argv[1], "watch") != 0)) {
    std::fprintf(stderr, "usage: %s drain|watch DATABASE FOLDER\n", argv[0]);
    return 2;
  }
  std::signal(SIGTERM, on_term);
  try {
    const std::string database = argv[2];
    std::unique_ptr<Store> store;
    if (database.starts_with("postgresql://")) store = std::make_unique<PgStore>(database);
    else store = std::make_unique<SqliteStore>(database);
    std::string folder = argv[3];
    if (folder.back() != '/') folder += '/';
    Intake in{*store, folder};
    if (std::strcmp(argv[1], "drain") == 0) {
      const long worked = drain(in);
      rusage use {};
      ::getrusage(RUSAGE_SELF, &use);
      const long long cpu_us = (use.ru_utime.tv_sec + use.ru_stime.tv_sec) * 1'000'000LL + use.ru_utime.tv_usec + use.ru_stime.tv_usec;
      std::printf("%ld %lld %ld\n", worked, cpu_us, use.ru_maxrss);
    }
    else
      watch(in);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "reference_intake: %s\n", e.what());
    return 1;
  }
  return 0;
}
