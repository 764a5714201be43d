// Placeholder until the interface filters land: messages pass unchanged.
#include "intake/filters.h"

namespace dexweb {
void run_raw_interface_filter(const InterfaceSettings&, const FilterContext&, WebMessage&) {}
void run_interface_filter(const InterfaceSettings&, const FilterContext&, WebMessage&) {}
}  // namespace dexweb
