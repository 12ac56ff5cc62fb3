#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "launch_options.h"
#include "vm_command_line.h"
#include "vork/text.h"

namespace {

const char* const DIR = "\\Program Files\\VORK";
const std::string TAIL =
    "\"-Djava.library.path=\\Program Files\\VORK\\vork\" "
    "-cp \"\\Program Files\\VORK\\vork\\startup.jar;\\Program Files\\VORK\\vork\\startup2.jar;"
    "\\Program Files\\VORK\\vork\\eswt-converged.jar\" "
    "com.q7vk.mobile.launcher.Main ";

std::string commandFor(const char* letters, bool handheld = true) {
  LaunchOptions options;
  initLaunchOptions(options);
  parseLaunchOptions(vork::utf16FromUtf8(letters).c_str(), handheld, options);
  std::u16string dir = vork::utf16FromUtf8(DIR);
  WCHAR exe[EXE_PATH_SIZE];
  buildExecutablePath(dir.c_str(), options.debugMode, exe);
  WCHAR line[COMMAND_LINE_SIZE];
  buildCommandLine(options, dir.c_str(), exe, handheld ? u"\\vork\\config\\gps.properties" : u"config\\gps.properties",
                   line);
  return vork::utf8FromUtf16(line);
}

struct Case {
  const char* letters;
  bool handheld;
  std::string expected;
};

class CommandLines : public ::testing::TestWithParam<Case> {};

TEST_P(CommandLines, AreBuiltFromThePieces) {
  EXPECT_EQ(commandFor(GetParam().letters, GetParam().handheld), GetParam().expected);
}

const std::string APP = "-application org.eclipse.ercp.eworkbench.eWorkbench -sp ";

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLines,
    ::testing::Values(
        Case{"", true, "-jcl:foun11 " + TAIL + APP + "8"},
        Case{"S", true, "\"\\Program Files\\VORK\\K5\\bin\\k5w.exe\" -jcl:foun11 " + TAIL + APP + "8"},
        Case{"dS", true, "\"\\Program Files\\VORK\\K5\\bin\\k5.exe\" -jcl:foun11 " + TAIL + APP + "8"},
        Case{"s", true,
             "\"\\Program Files\\VORK\\K5\\bin\\k5w.exe\" -jcl:foun11 -Dosgi.noShutdown=true " + TAIL + APP + "8"},
        Case{"hrx64X16", true,
             "-jcl:foun11 -Dhimem=true -Xdebug -Xrunjdwp:transport=dt_socket,server=y,suspend=y,address=8096 "
             "-Xmx64m -Xms16m " + TAIL + APP + "8"},
        Case{"x", true, "-jcl:foun11 -Xmxm " + TAIL + APP + "8"},
        Case{"g", true,
             "-jcl:foun11 \"-Dcom.zel.tosa.location.config.path=\\vork\\config\\gps.properties\" " + TAIL + APP + "8"},
        Case{"g", false, "-jcl:foun11 \"-Dcom.zel.tosa.location.config.path=config\\gps.properties\" " + TAIL + APP + "8"},
        Case{"cp16", true, "-jcl:foun11 " + TAIL + "-console " + APP + "16"},
        Case{"x12345678901234", true, "-jcl:foun11 -Xmx12345678904m " + TAIL + APP + "8"}));

TEST(ExecutablePath, FollowsDebugMode) {
  WCHAR exe[EXE_PATH_SIZE];
  buildExecutablePath(u"/opt/app", false, exe);
  EXPECT_EQ(vork::utf8FromUtf16(exe), "/opt/app\\K5\\bin\\k5w.exe");
  buildExecutablePath(u"/opt/app", true, exe);
  EXPECT_EQ(vork::utf8FromUtf16(exe), "/opt/app\\K5\\bin\\k5.exe");
}

TEST(AdditionalParameters, AreAppendedAsReceivedAndCutAtTheBuffer) {
  WCHAR* line = new WCHAR[COMMAND_LINE_SIZE];
  WCHAR* spare = new WCHAR[COMMAND_LINE_SIZE];
  std::u16string start = u"-jcl:foun11 X";
  std::copy(start.c_str(), start.c_str() + start.size() + 1, line);
  std::u16string first = u"-Da=1", second = u"two words";
  std::u16string big(2000, u'y');
  WCHAR* parameters[] = {&first[0], &second[0], &big[0]};
  WCHAR* released = nullptr;
  WCHAR* result = appendAdditionalParameters(line, spare, 2, parameters, &released);
  EXPECT_EQ(vork::utf8FromUtf16(result), "-jcl:foun11 X -Da=1 two words");
  EXPECT_TRUE(released == line || released == spare);
  EXPECT_NE(released, result);
  // A parameter too long for the buffer is cut; the NUL always fits.
  WCHAR* other = released;
  result = appendAdditionalParameters(result, other, 1, parameters + 2, &released);
  std::string cut = vork::utf8FromUtf16(result);
  EXPECT_EQ(cut.size(), COMMAND_LINE_SIZE - 1);
  EXPECT_EQ(cut.substr(0, 31), "-jcl:foun11 X -Da=1 two words y");
  delete[] line;
  delete[] spare;
}

class ParamFile : public ::testing::Test {
 protected:
  std::string file = std::filesystem::temp_directory_path() / ("vork-param-" + std::to_string(getpid()));
  void TearDown() override { std::remove(file.c_str()); }
  std::string read(const std::string& content, bool* opened = nullptr) {
    std::ofstream(file, std::ios::binary) << content;
    WCHAR line[COMMAND_LINE_SIZE];
    bool ok = readParamFile(vork::utf16FromUtf8(file).c_str(), line);
    if (opened) *opened = ok;
    return ok ? vork::utf8FromUtf16(line) : "<not opened>";
  }
};

TEST_F(ParamFile, GivesTheFirstLine) {
  EXPECT_EQ(read("-jcl:foun11 -cp a Main\r\nsecond line\n"), "-jcl:foun11 -cp a Main");
  EXPECT_EQ(read("only\rline"), "only");
  EXPECT_EQ(read("\nsecond"), "");                // an empty first line
  EXPECT_EQ(read("no line end"), "no line end");  // the whole text
  EXPECT_EQ(read(""), "");
  EXPECT_EQ(read("caf\xE9"), "caf\xC3\xA9");  // one character per byte of the code page
  EXPECT_EQ(read(std::string(1500, 'a')), std::string(1023, 'a'));
}

TEST_F(ParamFile, ThatIsMissingIsReported) {
  std::remove(file.c_str());
  WCHAR line[COMMAND_LINE_SIZE];
  EXPECT_FALSE(readParamFile(u"/nonexistent/vork/param.ini", line));
}

}  // namespace
