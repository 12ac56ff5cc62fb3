#include "device_fixture.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "vork/control.h"
#include "vork/text.h"
#include "windows.h"

extern char** environ;

namespace vorktest {

std::string buildDir() {
  const char* dir = std::getenv("VORK_BUILD_DIR");
  return dir ? dir : ".";
}

void DeviceTest::SetUp() {
  char pattern[] = "/tmp/vork-test-XXXXXX";
  root = mkdtemp(pattern);
  setenv("VORK_DEVICE_ROOT", root.c_str(), 1);
  VorkControl_SetDeviceRoot(root.c_str());
}

void DeviceTest::TearDown() {
  std::error_code error;
  std::filesystem::remove_all(root, error);
}

std::string DeviceTest::path(const std::string& devicePath) const {
  std::string relative = devicePath;
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  if (!relative.empty() && relative[0] == '/') relative.erase(0, 1);
  return root + "/" + relative;
}

void DeviceTest::writeFile(const std::string& devicePath, const std::string& content) const {
  std::filesystem::path file = path(devicePath);
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << content;
}

std::string DeviceTest::readFile(const std::string& devicePath) const {
  std::ifstream in(path(devicePath), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool DeviceTest::exists(const std::string& devicePath) const {
  return std::filesystem::exists(std::filesystem::symlink_status(path(devicePath)));
}

void DeviceTest::makeDirectory(const std::string& devicePath) const {
  std::filesystem::create_directories(path(devicePath));
}

void DeviceTest::writeRegistry(const std::string& body) const {
  std::ofstream(root + "/registry.reg", std::ios::binary) << "REGEDIT4\n\n" << body;
  VorkControl_ReloadRegistry();
}

long long DeviceTest::registryDword(const std::string& keyPath, const std::string& value) const {
  VorkControl_ReloadRegistry();
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, vork::utf16FromUtf8(keyPath).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return -1;
  }
  DWORD data = 0, type = 0, size = sizeof data;
  LONG result = RegQueryValueExW(key, vork::utf16FromUtf8(value).c_str(), nullptr, &type,
                                 reinterpret_cast<BYTE*>(&data), &size);
  RegCloseKey(key);
  return result == ERROR_SUCCESS && type == REG_DWORD ? static_cast<long long>(data) : -1;
}

static std::string slurp(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

RunResult DeviceTest::run(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) const {
  std::string outFile = root + "/.stdout", errFile = root + "/.stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> env;
  for (char** entry = environ; *entry; ++entry) {
    if (std::string(*entry).rfind("VORK_COMMAND_LINE=", 0) != 0) env.push_back(*entry);
  }
  env.push_back("VORK_DEVICE_ROOT=" + root);
  env.insert(env.end(), environment.begin(), environment.end());
  std::vector<char*> argv, envp;
  std::vector<std::string> args = arguments;
  if (!args.empty() && args[0][0] != '/') args[0] = buildDir() + "/" + args[0];
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  for (std::string& e : env) envp.push_back(&e[0]);
  envp.push_back(nullptr);
  pid_t pid;
  int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return RunResult{-1, "", "spawn failed"};
  int status = 0;
  waitpid(pid, &status, 0);
  RunResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(outFile), slurp(errFile)};
  VorkControl_ReloadRegistry();
  return result;
}

}  // namespace vorktest
