#include <fstream>
#include <string>

#include "device_fixture.h"
#include "vork/control.h"
#include "vork/text.h"
#include "windows.h"

namespace {

class RegistryTest : public vorktest::DeviceTest {
 protected:
  HKEY create(const char16_t* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    return key;
  }
  std::u16string readString(HKEY key, const char16_t* name) {
    WCHAR buffer[256];
    DWORD type = 0, size = sizeof buffer;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) return u"?";
    return type == REG_SZ ? std::u16string(buffer) : u"?";
  }
};

TEST_F(RegistryTest, ReadsRegedit4Text) {
  writeRegistry(
      "; a comment\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Vendor\\App]\n"
      "\"Name\"=\"Caf\xC3\xA9 \\\"quoted\\\" \\\\ back\"\n"
      "\"Count\"=dword:0000002a\n"
      "\"Blob\"=hex:01,02,\\\n"
      "  ff\n"
      "@=\"default\"\n"
      "this line is not a value\n");
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\vendor\\APP", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(readString(key, u"name"), u"Caf\u00E9 \"quoted\" \\ back");
  EXPECT_EQ(readString(key, u""), u"default");
  EXPECT_EQ(registryDword("Software\\Vendor\\App", "Count"), 42);
  BYTE blob[8];
  DWORD type = 0, size = sizeof blob;
  ASSERT_EQ(RegQueryValueExW(key, u"Blob", nullptr, &type, blob, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(blob[2], 0xFF);
  RegCloseKey(key);
  // Keys above a listed key exist too.
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Vendor", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(RegistryTest, ReportsMissingKeysValuesAndShortBuffers) {
  HKEY key;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Nowhere", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  key = create(u"Here");
  DWORD type, size = 4;
  BYTE data[4];
  EXPECT_EQ(RegQueryValueExW(key, u"None", nullptr, &type, data, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(size, 4u);  // left alone
  const char16_t text[] = u"longer than four bytes";
  RegSetValueExW(key, u"Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
  size = sizeof data;
  EXPECT_EQ(RegQueryValueExW(key, u"Text", nullptr, &type, data, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof text);
  size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"Text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, sizeof text);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, WritesBackAfterEachChangeAndRoundTrips) {
  HKEY key = create(u"Software\\Round\\Trip");
  DWORD number = 0xDEADBEEF;
  RegSetValueExW(key, u"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  const char16_t odd[] = u"line\nbreak \u20AC";
  RegSetValueExW(key, u"Odd", 0, REG_SZ, reinterpret_cast<const BYTE*>(odd), sizeof odd);
  const char16_t plain[] = u"C:\\path \"x\"";
  RegSetValueExW(key, u"Plain", 0, REG_SZ, reinterpret_cast<const BYTE*>(plain), sizeof plain);
  RegCloseKey(key);
  std::string text = readFile("registry.reg");
  EXPECT_EQ(text.rfind("REGEDIT4\n", 0), 0u);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Round\\Trip]\n\"Number\"=dword:deadbeef\n"), std::string::npos);
  EXPECT_NE(text.find("\"Plain\"=\"C:\\\\path \\\"x\\\"\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"Odd\"=hex(1):"), std::string::npos);
  // Another process reads the same values.
  VorkControl_ReloadRegistry();
  key = create(u"Software\\Round\\Trip");
  EXPECT_EQ(readString(key, u"Odd"), odd);
  EXPECT_EQ(readString(key, u"Plain"), plain);
  EXPECT_EQ(registryDword("Software\\Round\\Trip", "Number"), 0xDEADBEEF);
  RegCloseKey(key);
}

TEST_F(RegistryTest, SeesChangesMadeOnDiskMeanwhile) {
  HKEY key = create(u"Shared");
  DWORD one = 1;
  RegSetValueExW(key, u"Mode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
  // Another process rewrites the file (a different size, so the change shows).
  std::ofstream(root + "/registry.reg") << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Shared]\n\"Mode\"=dword:00000002\n\"X\"=\"y\"\n";
  DWORD value = 0, size = sizeof value;
  ASSERT_EQ(RegQueryValueExW(key, u"Mode", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
  EXPECT_EQ(value, 2u);
  RegCloseKey(key);
}

TEST_F(RegistryTest, DeletesValuesAndKeysWithEverythingBelow) {
  RegCloseKey(create(u"Top\\Middle\\Bottom"));
  HKEY key = create(u"Top");
  DWORD one = 1;
  RegSetValueExW(key, u"V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
  EXPECT_EQ(RegDeleteValueW(key, u"v"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, u"v"), ERROR_FILE_NOT_FOUND);
  WCHAR name[32];
  DWORD size = 32;
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"Middle");
  size = 32;
  EXPECT_EQ(RegEnumKeyExW(key, 1, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegDeleteKeyW(key, u"Middle"), ERROR_SUCCESS);
  HKEY gone;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Top\\Middle\\Bottom", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(RegistryTest, BatteryTimeoutSystemParametersFollowTheDevice) {
  writeRegistry("[HKEY_LOCAL_MACHINE\\Substitute\\Power]\n\"BatteryIdleTimeout\"=dword:0000003c\n");
  DWORD timeout = 0;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETBATTERYIDLETIMEOUT, 0, &timeout, 0));
  EXPECT_EQ(timeout, 60u);
  ASSERT_TRUE(SystemParametersInfoW(SPI_SETBATTERYIDLETIMEOUT, 0, nullptr, 0));
  EXPECT_EQ(registryDword("Substitute\\Power", "BatteryIdleTimeout"), 0);
  writeRegistry("[HKEY_LOCAL_MACHINE\\Substitute\\Power]\n\"RefuseSystemParameters\"=dword:00000001\n");
  EXPECT_FALSE(SystemParametersInfoW(SPI_GETBATTERYIDLETIMEOUT, 0, &timeout, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_FALSE(SystemParametersInfoW(SPI_SETBATTERYIDLETIMEOUT, 0, nullptr, 0));
}

}  // namespace
