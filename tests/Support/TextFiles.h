// Test helper: whole files in and out, byte for byte, and paths in the test's scratch folder.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace OrvTest {

inline std::string TempPath(const std::string& name) { return testing::TempDir() + name; }

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace OrvTest
