#pragma once
// Points a process-wide pointer elsewhere for the lifetime of the guard and puts the one
// before back at its end, so that replacements nest.

#include <utility>

namespace dexweb {

template <typename T>
class ScopedPointer {
 public:
  ScopedPointer(T*& slot, T* value) : slot_(slot), previous_(std::exchange(slot, value)) {}
  ~ScopedPointer() { slot_ = previous_; }
  ScopedPointer(const ScopedPointer&) = delete;
  ScopedPointer& operator=(const ScopedPointer&) = delete;

 private:
  T*& slot_;
  T* previous_;
};

}  // namespace dexweb
