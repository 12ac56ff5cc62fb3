#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "vork/control.h"
#include "vork/core_internal.h"
#include "vork/text.h"
#include "windows.h"

namespace {

std::vector<std::string> split(const char16_t* line, bool programFirst) {
  std::vector<std::string> out;
  for (const auto& argument : vork::splitCommandLine(line, programFirst)) out.push_back(vork::utf8FromUtf16(argument));
  return out;
}

TEST(CommandLine, SplitsByTheDocumentedRules) {
  using V = std::vector<std::string>;
  EXPECT_EQ(split(u"  a  b\tc ", false), (V{"a", "b", "c"}));
  EXPECT_EQ(split(u"\"a b\" c", false), (V{"a b", "c"}));
  EXPECT_EQ(split(u"a\\\\b", false), (V{"a\\\\b"}));            // backslashes without a quote
  EXPECT_EQ(split(u"a\\\\\"b c\"", false), (V{"a\\b c"}));      // 2n backslashes: n, quote toggles
  EXPECT_EQ(split(u"a\\\\\\\"b", false), (V{"a\\\"b"}));        // 2n+1: n and a literal quote
  EXPECT_EQ(split(u"\"a\"\"b\" c", false), (V{"a\"b", "c"}));   // "" inside quotes
  EXPECT_EQ(split(u"x\"y z\"w", false), (V{"xy zw"}));
  EXPECT_EQ(split(u"\"\"", false), (V{""}));
  EXPECT_EQ(split(u"", false), (V{}));
  // The program name: quotes delimit it, backslashes are plain.
  EXPECT_EQ(split(u"\"\\Program Files\\k5.exe\" -a \"b c\"", true), (V{"\\Program Files\\k5.exe", "-a", "b c"}));
  EXPECT_EQ(split(u"C:\\k5.exe\\\" x", true), (V{"C:\\k5.exe\\\"", "x"}));
}

class ProcessTest : public vorktest::DeviceTest {
 protected:
  // A script that writes its arguments and VORK_COMMAND_LINE into the device and ends with 3.
  std::string makeScript() {
    std::string script = root + "/app/show args.sh";
    std::filesystem::create_directories(root + "/app");
    std::ofstream(script) << "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"$VORK_DEVICE_ROOT/args\"\n"
                             "printf '%s' \"$VORK_COMMAND_LINE\" > \"$VORK_DEVICE_ROOT/line\"\nexit 3\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    return script;
  }
  DWORD runToEnd(const char16_t* application, std::u16string line) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(application, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      return 1000 + GetLastError();
    }
    EXPECT_EQ(WaitForSingleObject(process.hProcess, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &code));
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
  }
};

TEST_F(ProcessTest, ApplicationNameIsTheProgramAndTheWholeLineFollows) {
  makeScript();
  EXPECT_EQ(runToEnd(u"\\app\\show args.sh", u"-jcl:foun11 \"a b\" c"), 3u);
  EXPECT_EQ(readFile("args"), "-jcl:foun11\na b\nc\n");
  EXPECT_EQ(readFile("line"), "-jcl:foun11 \"a b\" c");
}

TEST_F(ProcessTest, WithoutApplicationNameTheFirstTokenIsTheProgram) {
  makeScript();
  EXPECT_EQ(runToEnd(nullptr, u"\"\\app\\show args.sh\" one"), 3u);
  EXPECT_EQ(readFile("args"), "one\n");
}

TEST_F(ProcessTest, FailsWithTheDevicesErrorNumber) {
  EXPECT_EQ(runToEnd(u"\\app\\missing.exe", u"x"), 1000u + ERROR_FILE_NOT_FOUND);
  writeFile("app/data.txt", "not a program");
  std::filesystem::permissions(path("app/data.txt"), std::filesystem::perms::owner_read);
  EXPECT_EQ(runToEnd(u"\\app\\data.txt", u"x"), 1000u + ERROR_ACCESS_DENIED);
  EXPECT_EQ(runToEnd(nullptr, u"   "), 1000u + ERROR_FILE_NOT_FOUND);
}

TEST(Synchronisation, EventsResetAsCreated) {
  HANDLE autoReset = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_TIMEOUT);  // the wait took the signal
  HANDLE manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetEvent(manual);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  ResetEvent(manual);
  HANDLE both[] = {autoReset, manual};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 10), WAIT_TIMEOUT);
  SetEvent(manual);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 10), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 10), WAIT_TIMEOUT);
  SetEvent(autoReset);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 10), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  CloseHandle(autoReset);
  CloseHandle(manual);
}

TEST(Synchronisation, NamedEventsAreSharedAndTheirSetsNoted) {
  HANDLE first = CreateEventW(nullptr, FALSE, FALSE, u"Test/Shared");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  HANDLE second = CreateEventW(nullptr, FALSE, FALSE, u"Test/Shared");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  SetEvent(first);
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
  CloseHandle(first);
  CloseHandle(second);
}

TEST(Synchronisation, ThreadsWakeWaitersAndKeepTheirExitCode) {
  HANDLE go = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE thread = CreateThread(
      nullptr, 0, [](LPVOID event) -> DWORD { return WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0 ? 42 : 1; },
      go, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
  SetEvent(go);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, 42u);
  CloseHandle(thread);
  CloseHandle(go);
}

TEST(Synchronisation, MutexesAreOwnedAndRecursive) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // the owner again
  HANDLE other = CreateThread(
      nullptr, 0, [](LPVOID m) -> DWORD { return WaitForSingleObject(m, 10); }, mutex, 0, nullptr);
  WaitForSingleObject(other, INFINITE);
  DWORD code = 0;
  GetExitCodeThread(other, &code);
  EXPECT_EQ(code, WAIT_TIMEOUT);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(ReleaseMutex(mutex));
  CloseHandle(other);
  CloseHandle(mutex);
}

TEST(Clock, TheFastClockShortensWaitsAndSleeps) {
  VorkControl_SetClockScale(1000);
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD start = GetTickCount();
  auto hostStart = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(never, 30000), WAIT_TIMEOUT);  // thirty device seconds
  Sleep(20000);
  auto hostElapsed = std::chrono::steady_clock::now() - hostStart;
  EXPECT_GE(GetTickCount() - start, 50000u);
  EXPECT_LT(hostElapsed, std::chrono::seconds(5));
  VorkControl_SetClockScale(1);
  CloseHandle(never);
}

}  // namespace
