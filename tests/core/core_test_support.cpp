#include "core/core_test_support.h"

#include <cstdio>
#include <string>

namespace tessil::coretest {

std::vector<float> ReadFloats(const char* name) {
  const std::string path = std::string(TESSIL_TEST_DATA_DIR) + "/" + name;
  std::vector<float> values;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return values;
  float buffer[4096];
  size_t read = 0;
  while ((read = std::fread(buffer, sizeof(float), 4096, file)) > 0) {
    values.insert(values.end(), buffer, buffer + read);
  }
  std::fclose(file);
  return values;
}

}  // namespace tessil::coretest
