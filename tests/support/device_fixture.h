// A temporary simulated device for tests, and running programs on it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorktest {

struct RunResult {
  int exitCode;
  std::string out;
  std::string err;
};

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Host path of a device path ("\vork\database" or "vork/database").
  std::string path(const std::string& devicePath) const;
  void writeFile(const std::string& devicePath, const std::string& content) const;
  std::string readFile(const std::string& devicePath) const;
  bool exists(const std::string& devicePath) const;
  void makeDirectory(const std::string& devicePath) const;
  // Writes registry.reg (the text after the REGEDIT4 header line).
  void writeRegistry(const std::string& body) const;
  // A REG_DWORD value, or -1 when the key or the value is missing.
  long long registryDword(const std::string& key, const std::string& value) const;
  // Runs a program (a path relative to build/, or absolute) with the device root in its environment.
  RunResult run(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {}) const;

  std::string root;
};

// build/ of this build (from VORK_BUILD_DIR).
std::string buildDir();

}  // namespace vorktest
