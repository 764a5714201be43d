#include <cstdio>
#include <initializer_list>
#include <vector>

#include "data/db_object.h"
#include "data/query_object.h"
#include "shell/startup.h"
#include "tools/ctl_commands.h"
#include "tools/ctl_options.h"
#include "tools/gateway_home.h"
#include "tools/gateway_status.h"

namespace dexweb::ctl {
namespace {

struct Flag {
  const char* field;
  bool value;
};

// The control row as the gateway's tools write it: every row, the flags given.
void write_control_flags(const std::string& registry, std::initializer_list<Flag> flags) {
  DBObject db(gateway_database_settings(registry));
  db.OpenDb();  // the literals are those of the database found
  std::vector<Variant> fields;
  for (const Flag& flag : flags) {
    fields.emplace_back(std::string(flag.field));
    fields.emplace_back(flag.value);
  }
  QueryObject query;
  db.Execute(query.Build(db.SqlDialect(), QueryObject::kUpdate, "control", fields, ""));
  db.CloseDb();
  std::string line;
  for (const Flag& flag : flags)
    line += (line.empty() ? "control: " : ", ") + std::string(flag.field) + (flag.value ? " true" : " false");
  std::printf("%s\n", line.c_str());
}

std::string control_registry(const std::vector<std::string>& args) {
  const Options options(args, {"home"});
  if (!options.words().empty()) throw UsageError("unexpected word " + options.words()[0]);
  return registry_path(options);
}

bool module_runs(const std::string& registry) {
  return find_module(registry_folder(registry, "DB_Dir")).pid.has_value();
}

}  // namespace

int run_pause(const std::vector<std::string>& args) {
  write_control_flags(control_registry(args), {{"dexweb_pause", true}});
  std::printf("A running module stops at its next refresh (within seconds); one started while the pause lasts "
              "waits up to 300 s. Undo: dexwebctl resume\n");
  return 0;
}

int run_stop(const std::vector<std::string>& args) {
  write_control_flags(control_registry(args), {{"dexweb_run", false}});
  std::printf("A running module stops at its next refresh (within seconds), and every start stops at once "
              "until: dexwebctl start\n");
  return 0;
}

// start and resume alike: whatever of the control row keeps the module from running is undone.
int run_start(const std::vector<std::string>& args) {
  const std::string registry = control_registry(args);
  write_control_flags(registry, {{"dexweb_run", true}, {"dexweb_pause", false}});
  if (!module_runs(registry))
    std::printf("The module is not running: start it (systemctl start VTXWeb, or run dexweb)\n");
  return 0;
}

int run_version(const std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("version takes no options");
  std::printf("dexwebctl %s\n", std::string(module_version()).c_str());
  return 0;
}

}  // namespace dexweb::ctl
