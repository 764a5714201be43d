// `dexwebctl check`: everything the module needs from a home, checked before it runs. Each
// check gives one line, "ok ..." or "problem ...".
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <regex>
#include <vector>

#include "config/registry.h"
#include "data/db_object.h"
#include "platform/accounts.h"
#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/registry_file.h"
#include "tools/ctl_commands.h"
#include "tools/gateway_home.h"
#include "tools/gateway_status.h"
#include "tools/web_form.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb::ctl {
namespace {

struct CheckLine {
  bool ok;
  std::string text;  // without the leading word
};

struct CheckRequest {
  std::string registry_path;
  // The account the module will run as: folders must be writable by it.
  std::string account;
  // The web server's account, when given: a file it writes into the watched folder must be
  // readable by account.
  std::string web_account;
  // True when systemd will start the module (Run_Type must then be "NTService"), false for
  // a start as a program (where "NTService" makes the module wait for a service manager
  // and end).
  bool as_service = false;
};

constexpr const char* kRoot = "HKEY_LOCAL_MACHINE\\";
constexpr int kRequiredDbVersion = 1100;

constexpr const char* kWow64Product = "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Wyndrose\\Velotrax";

// A key of the WOW6432Node branch as the key of the product's branch it stands for.
std::string as_product_key(const std::string& key) {
  const std::string wow = kWow64Product;
  if (!text::istarts_with(key, wow) || (key.size() > wow.size() && key[wow.size()] != '\\')) return key;
  return std::string(kRoot) + kVelotraxKey + key.substr(wow.size());
}

CheckLine ok(std::string text) { return {true, std::move(text)}; }
CheckLine problem(std::string text) { return {false, std::move(text)}; }

// Whether the value named is unknown in the key (full path): the key, when it is one of the
// product's three; keys outside them hold other modules' values and are not judged.
std::optional<std::string> unknown_value(const std::string& key, const std::string& name) {
  const std::string product = as_product_key(key);
  for (const char* k : {kVelotraxKey, kServicesKey, kMonitorKey})
    if (text::iequals(product, std::string(kRoot) + k)) return find_registry_value(k, name) ? std::nullopt : std::optional(key);
  return std::nullopt;
}

bool known_key(const std::string& key) {
  const std::string product = std::string(kRoot) + kVelotraxKey, as_product = as_product_key(key);
  if (!text::istarts_with(as_product, product + "\\")) return true;
  return text::iequals(as_product, std::string(kRoot) + kServicesKey) ||
         text::iequals(as_product, std::string(kRoot) + kMonitorKey);
}

void check_lines(const std::string& bytes, std::vector<CheckLine>& out) {
  if (bytes.starts_with("\xFF\xFE")) {
    out.push_back(ok("registry is UTF-16: its lines are not checked one by one"));
    return;
  }
  static const std::regex value_line(R"re(^\s*"((?:[^"\\]|\\.)*)"\s*=\s*("(?:[^"\\]|\\.)*"|dword:[0-9A-Fa-f]{1,8}|hex(\([0-9a-fA-F]+\))?:[0-9A-Fa-f, ]*\\?|-)\s*$)re");
  static const std::regex key_line(R"(^\s*\[([^\]]*)\]\s*$)");
  const std::vector<std::string> lines = split_lines(bytes.starts_with("\xEF\xBB\xBF") ? bytes.substr(3) : bytes);
  std::size_t bad = 0;
  std::string key;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string line = text::trim(lines[i]);
    const std::string where = "registry line " + std::to_string(i + 1) + ": ";
    std::smatch m;
    if (i == 0) {
      if (line != "Windows Registry Editor Version 5.00" && line != "REGEDIT4") {
        out.push_back(problem(where + "not a registry header: " + text::decode_bytes(lines[i])));
        ++bad;
      }
    } else if (line.empty() || line.starts_with(";")) {
    } else if (std::regex_match(line, m, key_line)) {
      key = m[1];
      if (!known_key(key)) {
        out.push_back(problem(where + "unknown key [" + text::decode_bytes(key) + "]"));
        ++bad;
      }
    } else if (std::regex_match(line, m, value_line)) {
      if (const auto in_key = unknown_value(key, m[1])) {
        out.push_back(problem(where + "unknown value \"" + text::decode_bytes(m[1].str()) + "\" in [" + *in_key + "]"));
        ++bad;
      }
    } else {
      out.push_back(problem(where + "cannot be read: " + text::decode_bytes(lines[i])));
      ++bad;
    }
  }
  if (bad == 0) out.push_back(ok("registry lines: " + std::to_string(lines.size()) + " read, all known"));
}

// Every value of the module's own, judged as the module reads it.
void check_values(const platform::RegistryFile& file, std::vector<CheckLine>& out) {
  std::size_t bad = 0, read = 0;
  for (const RegistryValue& value : registry_values()) {
    if (!value.problem || !value_exists(file, value.key, value.name)) continue;
    ++read;
    const std::string text = query_value(file, value.key, value.name);
    if (const auto wrong = value.problem(text)) {
      out.push_back(problem(std::string(value.name) + " \"" + text::decode_bytes(text) + "\" " + *wrong));
      ++bad;
    }
  }
  if (bad == 0) out.push_back(ok("registry values: " + std::to_string(read) + " of the module's own, each as meant"));
}

void check_branch(const platform::RegistryFile& file, std::vector<CheckLine>& out) {
  const std::string read = key_read_for(file, kVelotraxKey);
  if (read != kVelotraxKey)
    out.push_back(ok("no [" + std::string(kRoot) + kVelotraxKey + "]: its values are read from [" + kRoot + read +
                     "], as a registry exported on 64-bit Windows holds them"));
}

void check_run_type(const CheckRequest& request, std::vector<CheckLine>& out) {
  const std::string run_type = query_value(platform::RegistryFile(request.registry_path), kServicesKey, "Run_Type");
  const char* how = request.as_service ? "under systemd" : "as a program";
  if (request.as_service && run_type != "NTService")
    out.push_back(problem("Run_Type \"" + run_type + "\": started " + how + " it should say \"NTService\""));
  else if (!request.as_service && run_type == "NTService")
    out.push_back(problem("Run_Type \"NTService\": started " + std::string(how) +
                          " the module waits 5 s for a service manager and ends; say \"Application\""));
  else
    out.push_back(ok("Run_Type \"" + run_type + "\" fits a start " + how));
}

void check_folder(const CheckRequest& request, const std::string& what, const std::string& folder,
                  std::vector<CheckLine>& out) {
  const auto info = platform::stat_path(folder);
  if (!info || !info->is_dir) return out.push_back(problem(what + " " + folder + " does not exist"));
  switch (platform::access_as(folder, request.account, platform::AccessKind::WriteFolder)) {
    case platform::Access::Yes: return out.push_back(ok(what + " " + folder + " writable by " + request.account));
    case platform::Access::No: return out.push_back(problem(what + " " + folder + " not writable by " + request.account));
    case platform::Access::Unknown:
      return out.push_back(problem(what + " " + folder + ": cannot tell whether " + request.account +
                                   " may write it (no such account, or not run as root)"));
  }
}

// The library as the unit loads it: the hardened unit (MemoryDenyWriteExecute) refuses one
// that asks for an executable stack, which a load here, without the unit's limits, would not
// show; the module then stores every message unfiltered.
void check_filter_library(const std::string& library, std::vector<CheckLine>& out) {
  try {
    const platform::LibraryTraits traits = platform::inspect_library(library);
    if (traits.elf && !traits.same_machine)
      return out.push_back(problem("filter library " + library + " is built for " + traits.machine + ", not for this computer"));
    if (traits.elf && traits.executable_stack)
      return out.push_back(problem("filter library " + library +
                                   " asks for an executable stack: the service (MemoryDenyWriteExecute) cannot load it "
                                   "and would store every message unfiltered; link it with -z noexecstack"));
    platform::DynamicLibrary loaded(library);
    loaded.function<void()>("RunFilter");
    out.push_back(ok("filter library " + library + " loads and has RunFilter"));
  } catch (const RuntimeError& e) {
    out.push_back(problem("filter library " + library + ": " + e.description()));
  }
}

void check_filters(const CheckRequest& request, const std::string& prog_dir, std::vector<CheckLine>& out) {
  if (prog_dir.empty()) return out.push_back(ok("no Prog_Dir: no filter"));
  const std::string library = platform::resolve_name_nocase(prog_dir, "vtfilter.so");
  const std::string program = platform::resolve_name_nocase(prog_dir, "vtfilter");
  bool any = false;
  if (const auto info = platform::stat_path(library)) {
    any = true;
    check_filter_library(library, out);
  }
  if (const auto info = platform::stat_path(program)) {
    any = true;
    if (!info->is_regular)
      out.push_back(problem("filter program " + program + " is not a plain file"));
    else if (platform::access_as(program, request.account, platform::AccessKind::Execute) != platform::Access::Yes)
      out.push_back(problem("filter program " + program + " is not executable by " + request.account));
    else
      out.push_back(ok("filter program " + program + " executable by " + request.account));
  }
  if (!any) out.push_back(ok("no filter in " + prog_dir));
}

bool table_exists(DBObject& db, const std::string& table) {
  const std::string query = db.UsesServer()
                                ? "SELECT COUNT(*) AS [n] FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_NAME = '" + table + "'"
                                : "SELECT COUNT(*) AS [n] FROM sqlite_master WHERE type = 'table' AND name = '" + table + "'";
  auto rs = db.OpenRecordset(query);
  return !rs->Eof() && rs->AsLong("n") > 0;
}

// The module prunes old records of worked files: a server account needs DELETE on the table.
// The statement deletes nothing, but the server checks the right all the same.
CheckLine check_prune_grant(DBObject& db) {
  try {
    ScopedRetries once(db, 0);
    db.Execute("DELETE FROM [worked_files] WHERE 1 = 0");
    return ok("database: the account may delete old records of worked_files");
  } catch (const RuntimeError& e) {
    if (e.number() != err::kDbNoPermission) throw;
    return problem("database: the account may not DELETE FROM worked_files, so the module never prunes it (grant it "
                   "DELETE on the table)");
  }
}

// The rows the module reads at its first tick and every refresh.
void check_rows(DBObject& db, std::vector<CheckLine>& out) {
  auto settings = db.OpenRecordset("SELECT [dbversion], [dexwebcgi_path], [dexweb_poll] FROM [settings]" + db.SqlDialect().table_hint());
  if (settings->Eof()) {
    out.push_back(problem("database: no settings row"));
  } else if (settings->AsLong("dbversion") != kRequiredDbVersion) {
    out.push_back(problem("database: dbversion " + std::to_string(settings->AsLong("dbversion")) + ", the module needs " +
                          std::to_string(kRequiredDbVersion)));
  } else {
    out.push_back(ok("database: dbversion 1100, settings row (poll every " + settings->AsText("dexweb_poll") + " s)"));
  }
  auto control = db.OpenRecordset("SELECT [dexweb_run], [dexweb_pause], [dexweb_state] FROM [control]" + db.SqlDialect().table_hint());
  const bool found = !control->Eof();
  const std::vector<std::string> stops =
      control_problems(found, found && control->AsBool("dexweb_run"), found && control->AsBool("dexweb_pause"));
  for (const std::string& stop : stops) out.push_back(problem((found ? "control row: " : "database: ") + stop));
  if (stops.empty()) out.push_back(ok("database: control row (dexweb_run true, dexweb_pause false)"));
  if (!table_exists(db, "worked_files")) {
    out.push_back(ok("database: no worked_files table yet (the module makes it)"));
  } else {
    db.OpenRecordset("SELECT [file_key], [name], [refused], [bad_copy], [worked_by], [worked_at] FROM [worked_files]" +
                     db.SqlDialect().table_hint() + " WHERE 1 = 0");
    out.push_back(ok("database: worked_files table has its columns"));
    if (db.UsesServer()) out.push_back(check_prune_grant(db));
  }
}

// The connection-string file's driver, when it names a file.
void check_connection_file(const std::string& db_dir, std::vector<CheckLine>& out) {
  const std::string path = platform::resolve_name_nocase(db_dir, "SqlServerConnectionString.txt");
  const auto info = platform::stat_path(path);
  if (!info) {
    const auto embedded = platform::stat_path(platform::resolve_name_nocase(db_dir, "velotrax.db"));
    out.push_back(embedded ? ok("embedded database " + db_dir + "velotrax.db (no connection-string file)")
                           : problem("neither " + db_dir + "velotrax.db nor a connection-string file"));
    return;
  }
  static const std::regex driver(R"(^\s*Driver\s*=\s*([^;\r\n]*))", std::regex::icase | std::regex::multiline);
  const std::string text = platform::read_file(path, 65536);
  std::smatch m;
  if (!std::regex_search(text, m, driver)) return out.push_back(problem("connection-string file " + path + " names no Driver="));
  const std::string name = text::trim(m[1].str());
  if (name.starts_with("/") && !platform::stat_path(name))
    return out.push_back(problem("connection-string file: driver " + name + " not found"));
  out.push_back(ok("connection-string file " + path + " (driver " + name + ")"));
}

std::string described(const std::string& path) {
  const auto owned = platform::ownership(path);
  if (!owned) return "?";
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", owned->mode);
  return "owner " + owned->owner + ", group " + owned->group + ", mode " + mode;
}

// A file written into the watched folder as the web side writes one, by the web account, then
// opened by the module's account: the situation of every message, before it happens.
void check_web_account(const CheckRequest& request, const std::string& folder, std::vector<CheckLine>& out) {
  const std::string& web = request.web_account;
  const std::string probe = folder + ".dexwebctl-check-" + std::to_string(::getpid()) + ".probe";
  const platform::Access wrote = platform::as_account(web, [&] {
    write_web_file(probe, "a test file of dexwebctl check\r\n");
    return true;
  });
  if (wrote == platform::Access::Unknown)
    return out.push_back(problem("web account " + web + ": cannot act as it (no such account, or not run as root)"));
  if (wrote == platform::Access::No)
    return out.push_back(problem("web account " + web + " cannot write a file into " + folder + " (" + described(folder) +
                                 "): add it to the folder's group (usermod -a -G GROUP " + web + ")"));
  const platform::Access read = platform::access_as(probe, request.account, platform::AccessKind::Read);
  const std::string facts = described(probe);
  platform::remove_file(probe);
  if (read == platform::Access::Yes)
    return out.push_back(ok("a file that " + web + " writes into " + folder + " is readable by " + request.account));
  out.push_back(problem("a file that " + web + " writes into " + folder + " (" + facts + ") is not readable by " +
                        request.account + ": the module would leave every message unread; make the folder setgid to a "
                        "group of the web writers with a default ACL for " + request.account +
                        " (dexwebctl init --system does)"));
}

void check_database(const CheckRequest& request, const std::string& db_dir, std::vector<CheckLine>& out) {
  if (db_dir.empty()) return out.push_back(problem("no DB_Dir: no database"));
  check_connection_file(db_dir, out);
  try {
    DBObject db(gateway_database_settings(request.registry_path));
    db.OpenDb(0);
    out.push_back(ok(db.UsesServer() ? "database server: login works" : "database opens"));
    check_rows(db, out);
    const std::string web = read_watched_folder(db);
    db.CloseDb();
    const std::string folder = web.empty() || web.back() == '/' ? web : web + "/";
    check_folder(request, "watched folder", folder, out);
    if (!request.web_account.empty()) check_web_account(request, folder, out);
  } catch (const RuntimeError& e) {
    out.push_back(problem("database: " + e.description()));
  }
}

// The registry file: readable (the module refuses one it cannot read); line by line, its
// header, lines that are no key, value, comment or blank, unknown keys below the product's
// key and unknown values in the module's keys; the branch read (a WOW6432Node branch in the
// product's place is said); every value of the module's own as the module reads it
// (config/registry.h); and Run_Type against how the module will be started.
std::vector<CheckLine> check_registry(const CheckRequest& request) {
  std::vector<CheckLine> out;
  const auto info = platform::stat_path(request.registry_path);
  if (!info || !info->is_regular) return {problem("registry file not found: " + request.registry_path)};
  out.push_back(ok("registry file " + request.registry_path));
  switch (platform::access_as(request.registry_path, request.account, platform::AccessKind::Read)) {
    case platform::Access::Yes: out.push_back(ok("registry readable by " + request.account)); break;
    case platform::Access::No: out.push_back(problem("registry not readable by " + request.account)); break;
    case platform::Access::Unknown: out.push_back(problem("cannot tell whether " + request.account + " may read the registry")); break;
  }
  const platform::RegistryFile file(request.registry_path);
  try {
    file.require_readable();
  } catch (const RuntimeError& e) {
    // The module refuses to start with it.
    out.push_back(problem("registry file cannot be read: " + e.description()));
    return out;
  }
  check_lines(platform::read_file(request.registry_path, 1 << 20), out);
  check_branch(file, out);
  check_values(file, out);
  check_run_type(request, out);
  return out;
}

// The database (opens, of a kind the module supports; dbversion 1100; the settings row; the
// control row and what its flags do to the module; the worked-files table where present),
// the connection-string file, the folders (exist, writable by the account), a file of the
// web account in the watched folder, and the filter components of Prog_Dir (the library
// also as the hardened unit loads it: executable stack, machine).
std::vector<CheckLine> check_home(const CheckRequest& request) {
  std::vector<CheckLine> out;
  const std::string db_dir = registry_folder(request.registry_path, "DB_Dir");
  std::string log_dir = registry_folder(request.registry_path, "Log_Dir");
  if (log_dir.empty()) log_dir = RegistrySettings::kDefaultLogFolder;
  check_database(request, db_dir, out);
  if (!db_dir.empty()) {
    check_folder(request, "DB_Dir", db_dir, out);
    check_folder(request, "mail folder", db_dir + "MailOut/", out);
  }
  check_folder(request, "Log_Dir", log_dir, out);
  check_folder(request, "bad folder", log_dir + "badmsg/", out);
  check_filters(request, registry_folder(request.registry_path, "Prog_Dir"), out);
  return out;
}

constexpr const char* kUnit = "VTXWeb.service";

// The unit is found where `dexweb install` writes it ($DEXWEB_UNIT_DIR), else in systemd's
// folders, the administrator's first.
std::vector<std::string> unit_folders() {
  const char* chosen = std::getenv("DEXWEB_UNIT_DIR");
  if (chosen && *chosen) return {std::string(chosen) + "/"};
  return {"/etc/systemd/system/", "/run/systemd/system/", "/usr/lib/systemd/system/", "/lib/systemd/system/"};
}

// The last User= of the text, unquoted; "" resets it (root).
void take_user(const std::string& unit_text, std::optional<std::string>& user) {
  for (const std::string& raw : split_lines(unit_text)) {
    const std::string line = text::trim(raw);
    if (line.starts_with("User=")) user = text::trim_chars(line.substr(5), "\"' ");
  }
}

// The account the installed unit runs the module as (its drop-ins included): nullopt when no
// unit is installed.
std::optional<std::string> unit_account() {
  std::optional<std::string> unit;
  std::vector<std::string> drop_ins;
  for (const std::string& folder : unit_folders()) {
    if (!unit && platform::stat_path(folder + kUnit)) unit = folder + kUnit;
    const std::string drop_in_folder = folder + kUnit + ".d/";
    if (platform::stat_path(drop_in_folder))
      for (const platform::DirEntry& e : platform::list_files(drop_in_folder, ".conf")) drop_ins.push_back(drop_in_folder + e.name);
  }
  if (!unit) return std::nullopt;
  std::optional<std::string> user;
  try {
    take_user(platform::read_file(*unit, 1 << 16), user);
    // Drop-ins apply in the order of their names, whichever folder holds them.
    std::sort(drop_ins.begin(), drop_ins.end(), [](const std::string& a, const std::string& b) {
      return a.substr(a.rfind('/')) < b.substr(b.rfind('/'));
    });
    for (const std::string& drop_in : drop_ins) take_user(platform::read_file(drop_in, 1 << 16), user);
  } catch (const RuntimeError&) {
    // An unreadable unit or drop-in names no account: the check falls back to systemd's default.
  }
  return user && !user->empty() ? *user : "root";
}

// The unit of the package runs the module for the system's registry.
bool started_by_systemd(const Options& options, const std::string& registry) {
  const std::string as = options.get("as").value_or(registry == "/etc/velotrax/velotrax.reg" ? "service" : "program");
  if (as != "service" && as != "program") throw UsageError("--as takes service or program");
  return as == "service";
}

}  // namespace

int run_check(const std::vector<std::string>& args) {
  const Options options(args, {"home", "account", "as", "web-account"});
  if (!options.words().empty()) throw UsageError("unexpected word " + options.words()[0]);
  CheckRequest request;
  request.registry_path = registry_path(options);
  request.as_service = started_by_systemd(options, request.registry_path);
  request.account = options.get("account").value_or(unit_account().value_or(platform::current_account()));
  request.web_account = options.get("web-account").value_or("");
  std::vector<CheckLine> lines = check_registry(request);
  const bool registry_found = !lines.empty() && lines.front().ok;
  if (registry_found) {
    std::vector<CheckLine> home = check_home(request);
    lines.insert(lines.end(), home.begin(), home.end());
  }
  int problems = 0;
  for (const CheckLine& line : lines) {
    std::printf("%s %s\n", line.ok ? "ok" : "problem", line.text.c_str());
    problems += line.ok ? 0 : 1;
  }
  std::printf("%d problem%s (account %s, started %s)\n", problems, problems == 1 ? "" : "s", request.account.c_str(),
              request.as_service ? "under systemd" : "as a program");
  return problems == 0 ? 0 : 1;
}

}  // namespace dexweb::ctl
