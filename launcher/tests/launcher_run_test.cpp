// The launcher programs started for real: what the VM received, the messages and exit codes.
#include <string>
#include <vector>

#include "launcher_fixture.h"

namespace {

const std::string CLASS_PATH =
    "\\Program Files\\VORK\\vork\\startup.jar;\\Program Files\\VORK\\vork\\startup2.jar;"
    "\\Program Files\\VORK\\vork\\eswt-converged.jar";
const std::string TAIL = "\"-Djava.library.path=\\Program Files\\VORK\\vork\" -cp \"" + CLASS_PATH +
                         "\" com.q7vk.mobile.launcher.Main -application org.eclipse.ercp.eworkbench.eWorkbench -sp 8";

class LauncherBuilds : public LauncherTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LauncherBuilds, StartsTheWindowedVmWithTheDefaultCommandLine) {
  auto result = launch(GetParam(), {installDir});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(vmCommandLine(), "-jcl:foun11 " + TAIL);
  std::vector<std::string> expected = {
      path(installDir + "\\K5\\bin\\k5w.exe"),
      "-jcl:foun11",
      "-Djava.library.path=\\Program Files\\VORK\\vork",
      "-cp",
      CLASS_PATH,
      "com.q7vk.mobile.launcher.Main",
      "-application",
      "org.eclipse.ercp.eworkbench.eWorkbench",
      "-sp",
      "8"};
  EXPECT_EQ(vmArguments(), expected);
}

TEST_P(LauncherBuilds, PutsTheExecutableInTheCommandLineWithS) {
  auto result = launch(GetParam(), {installDir, "dS"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  // No application name: the program is the quoted first token of the command line.
  std::string exe = installDir + "\\K5\\bin\\k5.exe";
  EXPECT_EQ(vmCommandLine(), "\"" + exe + "\" -jcl:foun11 " + TAIL);
  ASSERT_FALSE(vmArguments().empty());
  EXPECT_EQ(vmArguments()[0], path(exe));
  EXPECT_EQ(vmArguments()[1], "-jcl:foun11");
  EXPECT_EQ(result.out, "exe: " + exe + "\nparam: \"" + exe + "\" -jcl:foun11 " + TAIL + "\n");
}

TEST_P(LauncherBuilds, AppendsAdditionalParametersAsReceived) {
  auto result = launch(GetParam(), {installDir, "x64", "-Dfoo=a b", "last"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(vmCommandLine(), "-jcl:foun11 -Xmx64m " + TAIL + " -Dfoo=a b last");
  auto args = vmArguments();
  ASSERT_GE(args.size(), 3u);
  EXPECT_EQ(args[args.size() - 3], "-Dfoo=a");  // no quoting: the blank splits it for the VM
  EXPECT_EQ(args.back(), "last");
}

TEST_P(LauncherBuilds, TakesTheCommandLineFromTheParameterFile) {
  writeFile(installDir + "\\vork\\param.ini", "-Xanalyze:tcp -cp x Main\r\nignored\n");
  auto result = launch(GetParam(), {installDir, "fhcgrx64p3", "extra"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(vmCommandLine(), "-Xanalyze:tcp -cp x Main");
  EXPECT_EQ(vmArguments()[0], path(installDir + "\\K5\\bin\\k5w.exe"));
}

TEST_P(LauncherBuilds, EndsAfterAMissingParameterFile) {
  auto result = launch(GetParam(), {installDir, "f"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "Error: Can't open file:\n" + installDir + "\\vork\\param.ini\n");
  EXPECT_FALSE(vmRan());
}

TEST_P(LauncherBuilds, ReportsAVmThatCannotBeStarted) {
  std::filesystem::remove(path(installDir + "\\K5\\bin\\k5w.exe"));
  auto result = launch(GetParam(), {installDir});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "Error: Errorcode: 2\n");
}

TEST_P(LauncherBuilds, PrintsTheUsageWithoutAnInstallationDirectory) {
  auto result = launch(GetParam(), {});
  EXPECT_EQ(result.exitCode, 0);
  std::string self = vorktest::buildDir() + "/bin/" + GetParam();
  EXPECT_EQ(result.out, "Wrong parameter count\n\nUsage:\n" + self + " <path-to-installation> <options> <additional parameter> ...");
  EXPECT_FALSE(vmRan());
}

TEST_P(LauncherBuilds, RefusesAnInstallationDirectoryTooLongForTheExecutablePath) {
  std::string longDir = "\\" + std::string(240, 'd');
  auto result = launch(GetParam(), {longDir});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "Error: Installation directory too long:\n" + longDir + "\n");
  EXPECT_FALSE(vmRan());
  // One character less fits (and fails only because there is no VM there).
  result = launch(GetParam(), {"\\" + std::string(239, 'd')});
  EXPECT_EQ(result.err, "Error: Errorcode: 2\n");
}

TEST_P(LauncherBuilds, DoesNotReportTheVmExitCode) {
  auto result = launch(GetParam(), {installDir, "s"});
  EXPECT_TRUE(vmRan());
  EXPECT_EQ(result.exitCode, 0);  // the fake VM ends with 7
}

INSTANTIATE_TEST_SUITE_P(All, LauncherBuilds,
                         ::testing::Values("Q7Launcher_win32", "ce5/Q7Launcher", "wm6/Q7Launcher"),
                         [](const auto& info) {
                           std::string name = info.param;
                           return name.substr(0, name.find('/')) == "Q7Launcher_win32" ? std::string("desktop")
                                                                                     : name.substr(0, 3);
                         });

TEST_F(LauncherTest, FrameworkFailureEndsWithCodeOneAndTheBuildsMessage) {
  writeRegistry("[HKEY_LOCAL_MACHINE\\Substitute\\Framework]\n\"FailInit\"=dword:00000001\n");
  writeFile("\\vork\\database_saved\\db", "data");
  auto desktop = launch("Q7Launcher_win32", {installDir});
  EXPECT_EQ(desktop.exitCode, 1);
  EXPECT_EQ(desktop.out, "Serious mistake by the MFC initialization\n");
  auto handheld = launch("ce5/Q7Launcher", {installDir});
  EXPECT_EQ(handheld.exitCode, 1);
  EXPECT_EQ(handheld.out, "Schwerwiegender Fehler bei der MFC-Initialisierung\n");
  EXPECT_FALSE(vmRan());
  // The handheld build has restored the database before the framework failed.
  EXPECT_EQ(readFile("\\vork\\database\\db"), "data");
}

TEST_F(LauncherTest, HostInstallationDirectoriesAreHostPaths) {
  std::string host = root + "/host-install";
  std::filesystem::create_directories(host + "/K5/bin");
  std::filesystem::create_symlink(vorktest::buildDir() + "/tests/fake_vm", host + "/K5/bin/k5w.exe");
  auto result = launch("Q7Launcher_win32", {host});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(vmArguments()[0], host + "/K5/bin/k5w.exe");
  EXPECT_EQ(vmArguments()[2], "-Djava.library.path=" + host + "\\vork");
}

}  // namespace
