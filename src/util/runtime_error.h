#pragma once
// The module's name and its run-time error: a number in the system's numbering, a description
// and the name of the component that raised it. The error routine classifies errors by
// number: 3000..3799 database, 52..76 file or directory, anything else halts at once.

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace dexweb {

// The module's name in the gateway: the source of its own errors, its log file, its monitor
// reports, its unit and the prefix of its unique names.
inline constexpr std::string_view kModuleName = "VTXWeb";

class RuntimeError : public std::runtime_error {
 public:
  RuntimeError(int number, std::string description, std::string source = std::string(kModuleName))
      : std::runtime_error(description),
        number_(number),
        description_(std::move(description)),
        source_(std::move(source)) {}

  int number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }
  const std::string& source() const noexcept { return source_; }
  // A failure that its raiser already retried and gave up on: the error routine halts at
  // once instead of retrying it.
  bool is_final() const noexcept { return final_; }
  RuntimeError& mark_final() noexcept {
    final_ = true;
    return *this;
  }

 private:
  int number_;
  std::string description_;
  std::string source_;
  bool final_ = false;
};

// Error numbers that the module raises itself.
namespace err {
inline constexpr int kInvalidProcedureCall = 5;
inline constexpr int kOverflow = 6;
inline constexpr int kSubscriptOutOfRange = 9;
inline constexpr int kTypeMismatch = 13;
inline constexpr int kBadFileName = 52;
inline constexpr int kFileNotFound = 53;
inline constexpr int kFileAlreadyExists = 58;
inline constexpr int kDiskFull = 61;
inline constexpr int kInputOutput = 57;
inline constexpr int kTooManyFiles = 67;
inline constexpr int kPermissionDenied = 70;
inline constexpr int kPathFileAccess = 75;
inline constexpr int kPathNotFound = 76;
// The database account lacks the right for a statement (a GRANT it was not given).
inline constexpr int kDbNoPermission = 3033;
}  // namespace err

}  // namespace dexweb
