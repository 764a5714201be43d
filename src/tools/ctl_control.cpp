#include <cstdio>

#include "data/db_object.h"
#include "data/query_object.h"
#include "shell/startup.h"
#include "tools/ctl_commands.h"
#include "tools/ctl_options.h"
#include "tools/gateway_registry.h"

namespace dexweb::ctl {
namespace {

// The control row as the gateway's tools write it: every row, one flag.
int write_control_flag(const std::vector<std::string>& args, const char* field, bool value) {
  const Options options(args, {"home"});
  if (!options.words().empty()) throw UsageError("unexpected word " + options.words()[0]);
  DBObject db(gateway_database_settings(registry_path(options)));
  db.OpenDb();  // the literals are those of the database found
  QueryObject query;
  db.Execute(query.Build(db.SqlDialect(), QueryObject::kUpdate, "control", {std::string(field), value}, ""));
  db.CloseDb();
  std::printf("control: %s %s\n", field, value ? "true" : "false");
  return 0;
}

}  // namespace

int run_pause(const std::vector<std::string>& args) { return write_control_flag(args, "dexweb_pause", true); }
int run_resume(const std::vector<std::string>& args) { return write_control_flag(args, "dexweb_pause", false); }
int run_stop(const std::vector<std::string>& args) { return write_control_flag(args, "dexweb_run", false); }

int run_version(const std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("version takes no options");
  std::printf("dexwebctl %s\n", std::string(module_version()).c_str());
  return 0;
}

}  // namespace dexweb::ctl
