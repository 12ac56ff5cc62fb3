// The handheld builds' device preparation around the VM run.
#include <fstream>
#include <string>

#include "launcher_fixture.h"

namespace {

const char* const CE5 = "ce5/Q7Launcher";
const char* const WM6 = "wm6/Q7Launcher";
const char* const WIDCOMM = "SOFTWARE\\Widcomm\\BtConfig\\General";
const char* const POWER = "System\\CurrentControlSet\\Control\\Power\\Timeouts";
const char* const SUBSTITUTE_POWER = "Substitute\\Power";
const char* const RADIO = "Substitute\\Bluetooth";

class HandheldTest : public LauncherTest {
 protected:
  // The registry as the VM saw it while it ran.
  long long duringRun(const std::string& key, const std::string& value) {
    std::string saved = readFile("registry.reg");
    writeFile("registry.reg", readFile("vm-run/registry.reg"));
    long long result = registryDword(key, value);
    writeFile("registry.reg", saved);
    return result;
  }
  void declareTray() { writeFile("windows/WCE_BTTRAY", "Bluetooth Console\n"); }
  std::string trayMessages() { return readFile("windows/WCE_BTTRAY.messages"); }
  std::string events() { return readFile("events.log"); }
};

// ---- Database ---------------------------------------------------------------------------------

struct DatabaseCase {
  bool database;
  bool saved;
  bool databaseAfter;
  bool savedAfter;
  const char* databaseContent;  // of \vork\database afterwards
};

class DatabaseRestore : public HandheldTest, public ::testing::WithParamInterface<DatabaseCase> {};

TEST_P(DatabaseRestore, MovesTheSavedDatabaseBackOnlyWhenNoneIsInPlace) {
  const DatabaseCase& c = GetParam();
  if (c.database) writeFile("\\vork\\database\\data", "current");
  if (c.saved) writeFile("\\vork\\database_saved\\data", "saved");
  // Even a usage error comes after the restore.
  launch(CE5, {});
  EXPECT_EQ(exists("\\vork\\database"), c.databaseAfter);
  EXPECT_EQ(exists("\\vork\\database_saved"), c.savedAfter);
  if (c.databaseAfter) {
    EXPECT_EQ(readFile("\\vork\\database\\data"), c.databaseContent);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, DatabaseRestore,
                         ::testing::Values(DatabaseCase{false, false, false, false, ""},
                                           DatabaseCase{false, true, true, false, "saved"},
                                           DatabaseCase{true, true, true, true, "current"},
                                           DatabaseCase{true, false, true, false, "current"}));

TEST_F(HandheldTest, DesktopBuildLeavesTheDatabaseAlone) {
  writeFile("\\vork\\database_saved\\data", "saved");
  launch("Q7Launcher_win32", {installDir});
  EXPECT_FALSE(exists("\\vork\\database"));
}

// ---- Battery suspend timeout ------------------------------------------------------------------

TEST_F(HandheldTest, BatteryOverrideThroughTheSystemParameterLeavesTheRegistryAlone) {
  writeRegistry(std::string("[HKEY_LOCAL_MACHINE\\") + SUBSTITUTE_POWER + "]\n\"BatteryIdleTimeout\"=dword:000000b4\n" +
                "[HKEY_LOCAL_MACHINE\\" + POWER + "]\n\"BattSuspendTimeout\"=dword:0000012c\n");
  auto result = launch(CE5, {installDir, "b"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(duringRun(SUBSTITUTE_POWER, "BatteryIdleTimeout"), 0);
  EXPECT_EQ(duringRun(POWER, "BattSuspendTimeout"), 300);
  EXPECT_EQ(registryDword(SUBSTITUTE_POWER, "BatteryIdleTimeout"), 180);
  EXPECT_EQ(registryDword(POWER, "BattSuspendTimeout"), 300);
  EXPECT_EQ(events(), "");
}

TEST_F(HandheldTest, BatteryOverrideFallsBackToTheRegistryWhenTheSystemParameterIsRefused) {
  writeRegistry(std::string("[HKEY_LOCAL_MACHINE\\") + SUBSTITUTE_POWER +
                "]\n\"BatteryIdleTimeout\"=dword:000000b4\n\"RefuseSystemParameters\"=dword:00000001\n" +
                "[HKEY_LOCAL_MACHINE\\" + POWER + "]\n\"BattSuspendTimeout\"=dword:0000012c\n");
  launch(WM6, {installDir, "b"});
  EXPECT_EQ(duringRun(POWER, "BattSuspendTimeout"), 0);
  EXPECT_EQ(registryDword(POWER, "BattSuspendTimeout"), 300);
  EXPECT_EQ(registryDword(SUBSTITUTE_POWER, "BatteryIdleTimeout"), 180);
  // The power manager is told to reload its timeouts after each change.
  EXPECT_EQ(events(), "set PowerManager/ReloadActivityTimeouts\nset PowerManager/ReloadActivityTimeouts\n");
}

TEST_F(HandheldTest, WithoutBTheBatteryIsNotTouched) {
  writeRegistry(std::string("[HKEY_LOCAL_MACHINE\\") + SUBSTITUTE_POWER + "]\n\"BatteryIdleTimeout\"=dword:000000b4\n");
  launch(CE5, {installDir, "dx32"});
  EXPECT_EQ(duringRun(SUBSTITUTE_POWER, "BatteryIdleTimeout"), 180);
  EXPECT_EQ(events(), "");
}

TEST_F(HandheldTest, RestoringStepsRunAfterAFailedStart) {
  writeRegistry(std::string("[HKEY_LOCAL_MACHINE\\") + SUBSTITUTE_POWER +
                "]\n\"BatteryIdleTimeout\"=dword:0000003c\n\"RefuseSystemParameters\"=dword:00000001\n" +
                "[HKEY_LOCAL_MACHINE\\" + POWER + "]\n\"BattSuspendTimeout\"=dword:0000003c\n" +
                "[HKEY_LOCAL_MACHINE\\" + RADIO + "]\n\"RadioMode\"=dword:00000000\n");
  std::filesystem::remove(path(installDir + "\\K5\\bin\\k5w.exe"));
  auto result = launch(WM6, {installDir, "b"});
  EXPECT_EQ(result.err, "Error: Errorcode: 2\n");
  EXPECT_EQ(registryDword(POWER, "BattSuspendTimeout"), 60);
  EXPECT_EQ(registryDword(RADIO, "RadioMode"), 0);
}

// ---- Widcomm stack -----------------------------------------------------------------------------

struct StackCase {
  const char* registry;  // the Widcomm key before the run ("" for none)
  bool stackOnDuringRun;
  bool trayDeclared;
  const char* expectedMessages;
};

class WidcommStack : public HandheldTest, public ::testing::WithParamInterface<StackCase> {};

TEST_P(WidcommStack, IsSwitchedOffOnlyWhenItWasOffBefore) {
  const StackCase& c = GetParam();
  if (*c.registry) writeRegistry(std::string("[HKEY_LOCAL_MACHINE\\") + WIDCOMM + "]\n" + c.registry);
  if (c.stackOnDuringRun) writeFile("vm-script/stack-on", "");
  if (c.trayDeclared) declareTray();
  launch(CE5, {installDir});
  EXPECT_EQ(trayMessages(), c.expectedMessages);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WidcommStack,
    ::testing::Values(StackCase{"\"StackMode\"=dword:00000000\n", true, true, "273 4097 0\n"},  // off before, on after
                      StackCase{"\"StackMode\"=dword:00000000\n", false, true, ""},           // still off
                      StackCase{"\"StackMode\"=dword:00000001\n", true, true, ""},            // on before
                      StackCase{"\"StackMode\"=\"1\"\n", true, true, "273 4097 0\n"},         // not a DWORD: off
                      StackCase{"", true, true, ""},                                          // no configuration
                      StackCase{"\"StackMode\"=dword:00000000\n", true, false, ""}));         // no tray window

TEST_F(HandheldTest, TrayWindowNeedsItsTitle) {
  writeRegistry(std::string("[HKEY_LOCAL_MACHINE\\") + WIDCOMM + "]\n\"StackMode\"=dword:00000000\n");
  writeFile("windows/WCE_BTTRAY", "Another Title\n");
  writeFile("vm-script/stack-on", "");
  launch(CE5, {installDir});
  EXPECT_EQ(trayMessages(), "");
}

// ---- Radio (Windows Mobile 6) --------------------------------------------------------------------

struct RadioCase {
  long long before;  // -1: no radio mode value
  long long after;
};

class RadioMode : public HandheldTest, public ::testing::WithParamInterface<RadioCase> {};

TEST_P(RadioMode, IsConnectableDuringTheRunAndOffAfterwardsOnlyIfItWasOff) {
  if (GetParam().before >= 0) {
    writeRegistry(std::string("[HKEY_LOCAL_MACHINE\\") + RADIO + "]\n\"RadioMode\"=dword:0000000" +
                  std::to_string(GetParam().before) + "\n");
  }
  launch(WM6, {installDir});
  EXPECT_EQ(duringRun(RADIO, "RadioMode"), 1);
  EXPECT_EQ(registryDword(RADIO, "RadioMode"), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(Table, RadioMode,
                         ::testing::Values(RadioCase{0, 0}, RadioCase{1, 1}, RadioCase{2, 1},
                                           RadioCase{-1, 0}));  // unreadable: taken as off

TEST_F(HandheldTest, WindowsCe5BuildLeavesTheRadioAlone) {
  writeRegistry(std::string("[HKEY_LOCAL_MACHINE\\") + RADIO + "]\n\"RadioMode\"=dword:00000002\n");
  launch(CE5, {installDir});
  EXPECT_EQ(duringRun(RADIO, "RadioMode"), 2);
  EXPECT_EQ(registryDword(RADIO, "RadioMode"), 2);
}

// ---- High-resolution marker --------------------------------------------------------------------

bool hasSection(const std::string& program, const std::string& name) {
  std::ifstream in(program, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return bytes.find(name + '\0') != std::string::npos;
}

TEST(HiResAware, OnlyTheWindowsMobile6BuildCarriesTheMarker) {
  EXPECT_TRUE(hasSection(vorktest::buildDir() + "/bin/wm6/Q7Launcher", ".rsrc.CEUX.HI_RES_AWARE"));
  EXPECT_FALSE(hasSection(vorktest::buildDir() + "/bin/ce5/Q7Launcher", ".rsrc.CEUX.HI_RES_AWARE"));
}

}  // namespace
