#include "cli/property_names.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "cli/errors.h"

namespace tessil::cli {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> SplitDots(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t dot = text.find('.', start);
    parts.push_back(text.substr(start, dot == std::string_view::npos ? dot : dot - start));
    if (dot == std::string_view::npos) return parts;
    start = dot + 1;
  }
}

std::string BandRange() {
  return "0 to " + std::to_string(kEqualiserBands - 1);
}

std::string AddressHelp(const PropertyInfo& property) {
  switch (property.scope) {
    case PropertyScope::Stream:
      return property.name + " takes no channel or band";
    case PropertyScope::Channel:
      return property.name + " is written " + AddressForm(property) + " (CH: 0, 1 or both)";
    case PropertyScope::Band:
      return property.name + " is written " + AddressForm(property) + " (CH: 0, 1 or both; BAND: " + BandRange() + ")";
  }
  return {};
}

bool ParseWhole(std::string_view text, int64_t* value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

PropertySetting ParseSetting(std::string_view text) {
  text = Trim(text);
  PropertySetting setting;
  setting.text = Quoted(text);
  const auto fail = [&](const std::string& why) -> CliError { return CliError(setting.text + ": " + why); };

  const size_t equals = text.find('=');
  if (equals == std::string_view::npos) throw fail("expected NAME=VALUE");
  const std::string_view address = Trim(text.substr(0, equals));
  const std::string_view valueText = Trim(text.substr(equals + 1));

  const std::vector<std::string_view> parts = SplitDots(address);
  const PropertyInfo* property = FindProperty(parts[0]);
  if (property == nullptr) {
    throw fail("unknown property '" + Quoted(parts[0]) + "' ('tessil properties' lists them)");
  }
  setting.property = property;

  const size_t expected = property->scope == PropertyScope::Stream    ? 1
                          : property->scope == PropertyScope::Channel ? 2
                                                                      : 3;
  if (parts.size() != expected) throw fail(AddressHelp(*property));
  std::vector<uint32_t> channels;
  if (expected >= 2) {
    if (parts[1] == "0") {
      channels = {0};
    } else if (parts[1] == "1") {
      channels = {1};
    } else if (parts[1] == "both") {
      channels = {0, 1};
    } else {
      throw fail(AddressHelp(*property));
    }
  } else {
    channels = {0};
  }
  uint32_t band = 0;
  if (expected == 3) {
    int64_t parsed = 0;
    if (!ParseWhole(parts[2], &parsed) || parsed < 0 || parsed >= kEqualiserBands) {
      throw fail("band " + Quoted(parts[2]) + " does not exist (bands " + BandRange() + ")");
    }
    band = static_cast<uint32_t>(parsed);
  }
  for (const uint32_t channel : channels) setting.targets.push_back({channel, band});

  int64_t value = 0;
  if (!ParseWhole(valueText, &value)) {
    throw fail("the value is not a whole number of " + std::string(UnitName(property->unit)) +
               " (settings are in the property's own integer units)");
  }
  // Decibels travel as signed 32-bit values, everything else as unsigned ones: a value outside
  // its type would arrive as a different one (4294967295 dB as -1 dB, a Q of -998 as a huge one).
  if (property->unit == PropertyUnit::Decibels) {
    if (value < INT32_MIN || value > INT32_MAX) throw fail("decibel values lie between -2147483648 and 2147483647");
  } else if (valueText.front() == '-') {
    throw fail(property->name + " takes no negative value (" + UnitName(property->unit) + ")");
  } else if (value > UINT32_MAX) {
    throw fail("values lie between 0 and 4294967295");
  }
  // The driver reads any non-zero value as "on": refuse the typos it would accept.
  if (property->unit == PropertyUnit::Switch && value != 0 && value != 1) {
    throw fail("a switch takes 0 or 1");
  }
  setting.value = static_cast<uint32_t>(value);
  return setting;
}

std::vector<PropertySetting> ReadSettingsFile(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) throw CliError(Quoted(path) + ": cannot read: is a directory");
  std::ifstream file(path, std::ios::binary);
  if (!file) throw CliError(Quoted(path) + ": cannot read: " + std::strerror(errno));
  std::vector<PropertySetting> settings;
  std::string line;
  int number = 1;
  const auto where = [&] { return Quoted(path) + ":" + std::to_string(number) + ": "; };
  // Read by hand rather than with getline, so that a file without line ends (a device, say)
  // cannot make a line grow without bound.
  char c = 0;
  bool more = true;
  while (more) {
    more = static_cast<bool>(file.get(c));
    if (more && c != '\n') {
      if (c == '\0') throw CliError(where() + "holds a NUL byte; settings files are text");
      if (line.size() == kSettingsLineLimit) {
        throw CliError(where() + "line longer than " + std::to_string(kSettingsLineLimit) + " bytes");
      }
      line += c;
      continue;
    }
    std::string_view content = line;
    content = Trim(content.substr(0, content.find('#')));
    if (!content.empty()) {
      try {
        settings.push_back(ParseSetting(content));
      } catch (const CliError& failure) {
        throw CliError(where() + failure.what());
      }
    }
    line.clear();
    ++number;
  }
  if (file.bad()) throw CliError(Quoted(path) + ": read error");
  return settings;
}

}  // namespace tessil::cli
