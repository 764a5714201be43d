#pragma once
// The interface settings of the templates table: defaults, the "global" row and this
// interface's own row laid over them. (Placeholder record: the filter keys only.)

#include <string>

namespace dexweb {

class DBObject;

struct InterfaceSettings {
  // A filter runs when its key was set by a row, whatever its value.
  bool rawinterfacefilter_set = false;
  bool interfacefilter_set = false;
};

// Defaults, then the global row, then the row of interface 4 "dexweb", each field only
// where the row set it.
InterfaceSettings effective_interface_settings(DBObject& db);

}  // namespace dexweb
