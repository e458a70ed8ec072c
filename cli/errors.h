// How the host reports a failure: one line on stderr, then an exit status (1 for a failed run,
// 2 for a command line it cannot make sense of).
#pragma once

#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tessil::cli {

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// What the user gave, fit for one error line: control characters escaped and at most 80
// characters quoted, the rest counted.
std::string Quoted(std::string_view given);

// `value` with `digits` decimals, for numbers in messages: "-16.0".
std::string Decimal(double value, int digits);

// An exception that is not a CliError in words fit for the user: "out of memory" for bad_alloc,
// never a library's internal name.
std::string ErrorText(const std::exception& error);

class CliError : public std::runtime_error {
 public:
  explicit CliError(const std::string& message, int exitCode = kExitFailure)
      : std::runtime_error(message), exitCode_(exitCode) {}
  int ExitCode() const { return exitCode_; }

 private:
  int exitCode_;
};

}  // namespace tessil::cli
