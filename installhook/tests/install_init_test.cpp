// Install_Init on a simulated device, loaded the way the installer loads it.
#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "device_fixture.h"
#include "handheld_prep.h"
#include "vork/text.h"

namespace {

const std::string LINKS[] = {
    "\\windows\\Start Menu\\user@example.com",
    "\\windows\\Start Menu\\Programs\\user@example.com",
    "\\windows\\Startmen\xC3\x9C\\user@example.com",             // U+00DC on the host
    "\\windows\\Startmen\xC3\xBC\\Programme\\user@example.com",  // U+00FC
};

std::string linkText(const std::string& installDir) {
  std::string command = "\"" + installDir + "\\vork\\Q7Launcher.exe\" " + installDir + " b";
  return std::to_string(command.size()) + "#" + command;
}

class InstallInitTest : public vorktest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    library = dlopen((vorktest::buildDir() + "/lib/libHandheldPrep.so").c_str(), RTLD_NOW);
    ASSERT_NE(library, nullptr) << dlerror();
    installInit = reinterpret_cast<decltype(installInit)>(dlsym(library, "Install_Init"));
    ASSERT_NE(installInit, nullptr);
  }
  void TearDown() override {
    if (library) dlclose(library);
    DeviceTest::TearDown();
  }
  int callInstallInit() { return installInit(nullptr, TRUE, TRUE, u"\\Program Files\\VORK"); }
  void writeConfiguration(const std::string& installDir) {
    writeFile(installDir + "\\vork\\configuration\\config.ini", "x");
    writeFile(installDir + "\\vork\\configuration\\org.eclipse.osgi\\bundles\\1\\data", "x");
    writeFile(installDir + "\\vork\\configuration\\org.eclipse.osgi\\.manager\\.fileTable.4", "x");
    makeDirectory(installDir + "\\vork\\configuration\\empty");
  }
  bool configurationEmpty(const std::string& installDir) {
    return std::filesystem::is_empty(path(installDir + "\\vork\\configuration"));
  }

  void* library = nullptr;
  int (*installInit)(HWND, BOOL, BOOL, LPCTSTR) = nullptr;
};

TEST_F(InstallInitTest, FirstInstallationChangesNothing) {
  writeFile("\\other\\file", "keep");
  EXPECT_EQ(callInstallInit(), 0);
  EXPECT_EQ(readFile("\\other\\file"), "keep");
  EXPECT_FALSE(exists("\\vork"));
}

TEST_F(InstallInitTest, UpdateClearsTheOldConfigurationAndEveryLink) {
  const std::string old = "\\Program Files\\VORK";
  writeConfiguration(old);
  writeFile(old + "\\vork\\startup.jar", "jar");
  writeFile("\\vork\\database\\records", "user data");
  for (const std::string& link : LINKS) writeFile(link, "9#\"x\\y.exe\"");
  writeFile(LINKS[1], linkText(old));  // the first that opens is read... but row 1 is there too
  std::filesystem::remove(path(LINKS[0]));

  EXPECT_EQ(callInstallInit(), 0);

  EXPECT_TRUE(exists(old + "\\vork\\configuration"));
  EXPECT_TRUE(configurationEmpty(old));
  EXPECT_EQ(readFile(old + "\\vork\\startup.jar"), "jar");
  EXPECT_FALSE(exists("\\vork\\database"));
  EXPECT_EQ(readFile("\\vork\\database_saved\\records"), "user data");
  for (const std::string& link : LINKS) EXPECT_FALSE(exists(link)) << link;
}

TEST_F(InstallInitTest, TakesTheDirectoryFromTheFirstLinkInTableOrder) {
  writeConfiguration("\\Old");
  writeConfiguration("\\Older");
  writeFile(LINKS[3], linkText("\\Older"));
  writeFile(LINKS[2], linkText("\\Old"));  // the German start menu comes first
  EXPECT_EQ(callInstallInit(), 0);
  EXPECT_TRUE(configurationEmpty("\\Old"));
  EXPECT_FALSE(configurationEmpty("\\Older"));
}

TEST_F(InstallInitTest, KeepsAnAlreadySavedDatabase) {
  writeFile("\\vork\\database\\records", "new");
  writeFile("\\vork\\database_saved\\records", "old");
  EXPECT_EQ(callInstallInit(), 0);
  EXPECT_EQ(readFile("\\vork\\database\\records"), "new");
  EXPECT_EQ(readFile("\\vork\\database_saved\\records"), "old");
}

TEST_F(InstallInitTest, UnusableLinkTextClearsTheRootConfiguration) {
  writeConfiguration("");
  writeConfiguration("\\Program Files\\VORK");
  writeFile(LINKS[0], "12#no quote here");
  EXPECT_EQ(callInstallInit(), 0);
  EXPECT_TRUE(configurationEmpty(""));  // "\vork\configuration" at the device root
  EXPECT_FALSE(configurationEmpty("\\Program Files\\VORK"));
}

TEST_F(InstallInitTest, SkipsPathsTooLongForItsBuffers) {
  std::string deep = "\\App\\vork\\configuration";
  for (int i = 0; i < 5; ++i) deep += "\\" + std::string(50, 'n');
  writeFile(deep + "\\too-deep.txt", "x");
  writeFile("\\App\\vork\\configuration\\plain.txt", "x");
  writeFile(LINKS[0], linkText("\\App"));
  EXPECT_EQ(callInstallInit(), 0);
  EXPECT_FALSE(exists("\\App\\vork\\configuration\\plain.txt"));
  EXPECT_TRUE(exists(deep + "\\too-deep.txt"));  // out of reach, left in place
}

TEST(InstallDirectoryFromLink, CutsTheLauncherOffTheCommand) {
  struct Case {
    std::u16string text;
    std::u16string expected;
  } cases[] = {
      {u"45#\"\\Program Files\\VORK\\vork\\Q7Launcher.exe\" x", u"\\Program Files\\VORK"},
      {u"27#\"/opt/app\\vork\\Q7Launcher.exe\"", u"/opt/app"},
      {u"20#\"\\vork\\Q7Launcher.exe\"", u""},       // quote exactly 24 from the start
      {u"19#\"vork\\Q7Launcher.exe\"", u""},         // quote 23 from the start
      {u"40#no double quote at all in this text", u""},
      {u"1#\"", u""},                                 // quote before index 4
      {u"", u""},
  };
  for (const Case& c : cases) {
    WCHAR directory[TEXT_BUFFER_SIZE];
    std::u16string text = c.text;
    installDirectoryFromLink(text.c_str(), directory);
    EXPECT_EQ(std::u16string(directory), c.expected) << vork::utf8FromUtf16(c.text);
  }
}

TEST(HandheldPrepLibrary, ExportsOnlyInstallInit) {
  std::string command = "nm -D --defined-only " + vorktest::buildDir() + "/lib/libHandheldPrep.so";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  ASSERT_TRUE(pipe);
  std::string symbols;
  char line[512];
  while (fgets(line, sizeof line, pipe.get())) {
    std::string entry = line;
    std::string name = entry.substr(entry.rfind(' ') + 1);
    name.pop_back();
    if (entry.find(" T ") != std::string::npos || entry.find(" D ") != std::string::npos ||
        entry.find(" B ") != std::string::npos || entry.find(" R ") != std::string::npos) {
      if (name.rfind("_", 0) != 0) symbols += name + " ";
    }
  }
  EXPECT_EQ(symbols, "Install_Init ");
}

class InstallerTest : public vorktest::DeviceTest {};

TEST_F(InstallerTest, RunsTheHookBeforeCopyingAndWritesTheLink) {
  writeFile("\\vork\\database\\records", "user data");
  writeFile("\\Program Files\\VORK\\vork\\configuration\\old", "x");
  writeFile(LINKS[1], linkText("\\Program Files\\VORK"));
  std::string package = root + "/package";
  std::filesystem::create_directories(package + "/vork/configuration");
  std::ofstream(package + "/vork/configuration/config.ini") << "new";
  auto result = run({"bin/install-package", "--link", LINKS[1], "b", vorktest::buildDir() + "/lib/libHandheldPrep.so",
                     package, "\\Program Files\\VORK"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_FALSE(exists("\\Program Files\\VORK\\vork\\configuration\\old"));
  EXPECT_EQ(readFile("\\Program Files\\VORK\\vork\\configuration\\config.ini"), "new");
  EXPECT_EQ(readFile("\\vork\\database_saved\\records"), "user data");
  EXPECT_EQ(readFile(LINKS[1]), linkText("\\Program Files\\VORK"));
}

}  // namespace
