#include "intake/filter_library.h"

#include "intake/filter_buffer.h"
#include "platform/dynamic_library.h"

namespace dexweb {

std::string call_run_filter(const std::string& library_path, const FilterCall& call) {
  platform::DynamicLibrary library(library_path);
  auto* run_filter = library.function<void(unsigned char*)>("RunFilter");
  FilterBuffer buffer(call);
  run_filter(buffer.data());
  return buffer.take_answer();
}

}  // namespace dexweb
