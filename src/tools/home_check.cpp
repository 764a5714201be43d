#include "tools/home_check.h"

#include <array>
#include <optional>
#include <regex>

#include "config/registry_settings.h"
#include "data/db_object.h"
#include "platform/accounts.h"
#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/registry_file.h"
#include "tools/gateway_registry.h"
#include "tools/text_lines.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb::ctl {
namespace {

constexpr const char* kRoot = "HKEY_LOCAL_MACHINE\\";
constexpr int kRequiredDbVersion = 1100;

// The values the gateway's modules read from the keys that DexWeb reads.
constexpr std::array kVelotraxValues = {
    "Prog_Dir", "DB_Dir", "Log_Dir", "DB_Password", "SyncTimeWithServer", "DB_Short_Timeout", "DB_Medium_Timeout",
    "DB_Long_Timeout", "DB_Retries", "Obfuscate_Msg_Chars", "Instant_Pickup", "Bad_Retention_Days",
    "Worked_Files_Retention_Days", "SmtpPort", "ProxyHost", "ProxyPort", "NoLoginOption", "NoAdminBackupPrompt",
    "ZipLogArchive", "ForwardThroughRecipient", "DexTapIdExtras"};
constexpr std::array kServicesValues = {"Run_Type", "Stop", "Sched_Run", "DexAscii_Run", "DexMail_Run", "DexWeb_Run",
                                        "DexTap_Run", "DexSerial_Run", "Connector", "DexAsciiUnhide",
                                        "DexSerialIgnoreRestart", "DexTapIgnoreRestart"};
constexpr std::array kMonitorValues = {"VTM_Enabled", "VTM_Port", "VTM_IP1", "VTM_IP2", "VTM_IP3"};

template <std::size_t N>
bool known(const std::array<const char*, N>& names, const std::string& name) {
  for (const char* n : names)
    if (text::iequals(n, name)) return true;
  return false;
}

CheckLine ok(std::string text) { return {true, std::move(text)}; }
CheckLine problem(std::string text) { return {false, std::move(text)}; }

// Whether the value named is known in the key (full path); keys outside the product's three
// hold other modules' values and are not judged.
std::optional<std::string> unknown_value(const std::string& key, const std::string& name) {
  const std::string product = std::string(kRoot) + kVelotraxKey;
  if (text::iequals(key, product)) return known(kVelotraxValues, name) ? std::nullopt : std::optional(key);
  if (text::iequals(key, std::string(kRoot) + kServicesKey))
    return known(kServicesValues, name) ? std::nullopt : std::optional(key);
  if (text::iequals(key, std::string(kRoot) + kMonitorKey))
    return known(kMonitorValues, name) ? std::nullopt : std::optional(key);
  return std::nullopt;
}

bool known_key(const std::string& key) {
  const std::string product = std::string(kRoot) + kVelotraxKey;
  if (!text::istarts_with(key, product + "\\")) return true;
  return text::iequals(key, std::string(kRoot) + kServicesKey) || text::iequals(key, std::string(kRoot) + kMonitorKey);
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

std::string registry_text(const std::string& registry_path, const char* key, const char* name) {
  const auto value = platform::RegistryFile(registry_path).read(std::string(kRoot) + key, name);
  if (!value) return {};
  if (const auto* s = std::get_if<std::string>(&*value)) return *s;
  return std::to_string(std::get<std::uint32_t>(*value));
}

void check_run_type(const CheckRequest& request, std::vector<CheckLine>& out) {
  const std::string run_type = registry_text(request.registry_path, kServicesKey, "Run_Type");
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

void check_filters(const CheckRequest& request, const std::string& prog_dir, std::vector<CheckLine>& out) {
  if (prog_dir.empty()) return out.push_back(ok("no Prog_Dir: no filter"));
  const std::string library = platform::resolve_name_nocase(prog_dir, "vtfilter.so");
  const std::string program = platform::resolve_name_nocase(prog_dir, "vtfilter");
  bool any = false;
  if (const auto info = platform::stat_path(library)) {
    any = true;
    try {
      platform::DynamicLibrary loaded(library);
      loaded.function<void()>("RunFilter");
      out.push_back(ok("filter library " + library + " loads and has RunFilter"));
    } catch (const RuntimeError& e) {
      out.push_back(problem("filter library " + library + ": " + e.description()));
    }
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
  out.push_back(control->Eof() ? problem("database: no control row") : ok("database: control row"));
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

void check_database(const CheckRequest& request, const std::string& db_dir, std::vector<CheckLine>& out) {
  if (db_dir.empty()) return out.push_back(problem("no DB_Dir: no database"));
  check_connection_file(db_dir, out);
  try {
    DBObject db(gateway_database_settings(request.registry_path));
    if (!db.OpenDb(0)) return out.push_back(problem("database: cannot be opened"));
    out.push_back(ok(db.UsesServer() ? "database server: login works" : "database opens"));
    check_rows(db, out);
    const std::string web = read_watched_folder(db);
    db.CloseDb();
    check_folder(request, "watched folder", web.empty() || web.back() == '/' ? web : web + "/", out);
  } catch (const RuntimeError& e) {
    out.push_back(problem("database: " + e.description()));
  }
}

}  // namespace

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
  check_lines(platform::read_file(request.registry_path, 1 << 20), out);
  for (const char* name : {"Prog_Dir", "DB_Dir", "Log_Dir"}) {
    const std::string value = registry_text(request.registry_path, kVelotraxKey, name);
    if (!value.empty() && value[0] != '/')
      out.push_back(problem(std::string(name) + " \"" + value + "\" is relative: a service runs in \"/\""));
  }
  check_run_type(request, out);
  return out;
}

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

}  // namespace dexweb::ctl
