// Runs the real launcher programs against a temporary device whose VM is the fake VM.
#pragma once

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "device_fixture.h"

class LauncherTest : public vorktest::DeviceTest {
 protected:
  // A device path: the launcher maps it onto the device root.
  const std::string installDir = "\\Program Files\\VORK";

  void SetUp() override {
    DeviceTest::SetUp();
    makeDirectory(installDir + "\\K5\\bin");
    for (const char* vm : {"k5w.exe", "k5.exe"}) {
      std::filesystem::create_symlink(vorktest::buildDir() + "/tests/fake_vm", path(installDir + "\\K5\\bin\\" + vm));
    }
  }

  vorktest::RunResult launch(const std::string& program, std::vector<std::string> arguments,
                             const std::vector<std::string>& environment = {}) {
    arguments.insert(arguments.begin(), "bin/" + program);
    return run(arguments, environment);
  }

  bool vmRan() const { return exists("vm-run/argv"); }
  std::vector<std::string> vmArguments() const {
    std::vector<std::string> lines;
    std::istringstream in(readFile("vm-run/argv"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string vmCommandLine() const { return readFile("vm-run/command-line"); }
};
