#include "cli/errors.h"

#include <cstdio>
#include <new>
#include <system_error>

namespace tessil::cli {

namespace {

constexpr size_t kQuotedCharacters = 80;

}  // namespace

std::string Quoted(std::string_view given) {
  std::string text;
  size_t shown = 0;
  for (; shown < given.size() && text.size() < kQuotedCharacters; ++shown) {
    const auto c = static_cast<unsigned char>(given[shown]);
    if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\x%02X", c);
      text += escape;
    } else {
      text += static_cast<char>(c);
    }
  }
  if (shown < given.size()) text += "... (" + std::to_string(given.size()) + " bytes)";
  return text;
}

std::string Decimal(double value, int digits) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", digits, value);
  return text;
}

std::string ErrorText(const std::exception& error) {
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) return "out of memory";
  // A thread that cannot start lacks memory for its stack, in practice.
  if (const auto* system = dynamic_cast<const std::system_error*>(&error);
      system != nullptr && system->code() == std::errc::resource_unavailable_try_again) {
    return "out of memory (no thread could be started)";
  }
  return error.what();
}

}  // namespace tessil::cli
