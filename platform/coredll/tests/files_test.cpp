#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>

#include "crt.h"
#include "device_fixture.h"
#include "vork/text.h"
#include "windows.h"

namespace {

class FilesTest : public vorktest::DeviceTest {};

TEST_F(FilesTest, MapsDeviceAndHostPaths) {
  EXPECT_EQ(vork::hostPath(u"\\vork\\database"), root + "/vork/database");
  EXPECT_EQ(vork::hostPath(u"/opt/app\\K5\\bin\\k5w.exe"), "/opt/app/K5/bin/k5w.exe");
  EXPECT_EQ(vork::hostPath(u"relative\\file"), "relative/file");
  EXPECT_EQ(vork::hostPath(u"\\windows\\Startmen\u00DC"), root + "/windows/Startmen\xC3\x9C");
}

TEST_F(FilesTest, CreatesReadsAndWritesWithTheDevicesErrors) {
  EXPECT_EQ(CreateFileW(u"\\missing", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(CreateFileW(u"\\no\\dir\\file", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  HANDLE file = CreateFileW(u"\\data.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  EXPECT_TRUE(WriteFile(file, "hello", 5, &done, nullptr));
  EXPECT_EQ(done, 5u);
  EXPECT_EQ(SetFilePointer(file, 1, nullptr, FILE_BEGIN), 1u);
  char buffer[8] = {};
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(std::string(buffer, done), "ello");
  EXPECT_EQ(GetFileSize(file, nullptr), 5u);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(ReadFile(file, buffer, 1, &done, nullptr));

  EXPECT_EQ(CreateFileW(u"\\data.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  chmod(path("data.bin").c_str(), 0444);
  if (geteuid() != 0) {  // root may write anything
    EXPECT_EQ(CreateFileW(u"\\data.bin", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
}

TEST_F(FilesTest, MovesWithoutReplacing) {
  writeFile("a", "A");
  writeFile("b", "B");
  EXPECT_FALSE(MoveFileW(u"\\a", u"\\b"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(MoveFileW(u"\\a", u"\\c"));
  EXPECT_EQ(readFile("c"), "A");
  EXPECT_FALSE(MoveFileW(u"\\a", u"\\d"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, ListsDirectoriesWithWildcards) {
  writeFile("dir/one.txt", "1");
  writeFile("dir/two.log", "22");
  writeFile("dir/[x].txt", "3");
  makeDirectory("dir/sub");
  auto list = [](const char16_t* pattern) {
    std::set<std::string> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern, &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      std::string name = vork::utf8FromUtf16(data.cFileName);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) name += "/";
      names.insert(name);
    } while (FindNextFileW(find, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    FindClose(find);
    return names;
  };
  EXPECT_EQ(list(u"\\dir\\*"), (std::set<std::string>{"./", "../", "one.txt", "two.log", "[x].txt", "sub/"}));
  EXPECT_EQ(list(u"\\dir\\*.txt"), (std::set<std::string>{"one.txt", "[x].txt"}));
  EXPECT_EQ(list(u"\\dir\\t?o.log"), (std::set<std::string>{"two.log"}));
  EXPECT_EQ(list(u"\\dir\\[x].txt"), (std::set<std::string>{"[x].txt"}));
  EXPECT_EQ(list(u"\\dir\\ONE.txt"), (std::set<std::string>{}));  // case-sensitive here
  WIN32_FIND_DATAW data;
  EXPECT_EQ(FindFirstFileW(u"\\nodir\\*", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(FindFirstFileW(u"\\dir\\*.none", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, RemovesOnlyEmptyDirectoriesAndDeletesOnlyFiles) {
  writeFile("full/file", "x");
  EXPECT_FALSE(RemoveDirectoryW(u"\\full"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_FALSE(DeleteFileW(u"\\full"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(DeleteFileW(u"\\full\\file"));
  EXPECT_TRUE(RemoveDirectoryW(u"\\full"));
  EXPECT_EQ(GetFileAttributesW(u"\\full"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FilesTest, TextModeReadsOneCharacterPerByte) {
  writeFile("\\windows\\Startmen\xC3\x9C\\link", std::string("a\xFC\n", 3));
  FILE* file = crt::fopen("\\windows\\Startmen\xDC\\link", "r");  // Latin-1 path
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(crt::fgetwc(file), 'a');
  EXPECT_EQ(crt::fgetwc(file), 0xFC);
  EXPECT_EQ(crt::fgetwc(file), '\n');
  EXPECT_EQ(crt::fgetwc(file), crt::WEOF16);
  crt::fclose(file);
}

TEST(WideFormatting, FormatsAndCutsAtTheBuffer) {
  WCHAR buffer[16];
  EXPECT_EQ(crt::snwprintf(buffer, 16, u"%s-%ls|%hs|%i|%05d|%x|%c%%", u"a", u"b", "c\xE9", -42, 7, 255u, u'z'), -1);
  EXPECT_EQ(std::u16string(buffer), u"a-b|c\u00E9|-42|0000");  // cut to 15 characters
  EXPECT_EQ(crt::snwprintf(buffer, 16, u"Errorcode: %i", 2), 12);
  EXPECT_EQ(std::u16string(buffer), u"Errorcode: 2");
  EXPECT_EQ(crt::snwprintf(buffer, 4, u"%s", u"abcd"), -1);
  EXPECT_EQ(std::u16string(buffer), u"abc");
  EXPECT_EQ(crt::snwprintf(buffer, 5, u"%s", u"abcd"), 4);
}

}  // namespace
