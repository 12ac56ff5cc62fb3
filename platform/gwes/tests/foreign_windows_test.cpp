// Other processes' windows and message boxes.
#include <string>

#include "device_fixture.h"
#include "winuser.h"

namespace {

class ForeignWindows : public vorktest::DeviceTest {};

TEST_F(ForeignWindows, AreFoundByClassAndTitleAndRecordWhatTheyAreSent) {
  writeFile("windows/WCE_BTTRAY", "Bluetooth Console\r\nmore\n");
  EXPECT_EQ(FindWindowW(u"WCE_BTTRAY", u"Other"), nullptr);
  EXPECT_EQ(FindWindowW(u"NoSuchClass", nullptr), nullptr);
  HWND tray = FindWindowW(u"WCE_BTTRAY", u"Bluetooth Console");
  ASSERT_NE(tray, nullptr);
  EXPECT_EQ(FindWindowW(u"WCE_BTTRAY", nullptr), tray);  // any title
  EXPECT_EQ(SendMessageW(tray, WM_COMMAND, 4097, 0), 0);
  EXPECT_TRUE(PostMessageW(tray, WM_USER + 1, 0xFFFFFFFFu, -5));
  EXPECT_EQ(readFile("windows/WCE_BTTRAY.messages"), "273 4097 0\n1025 4294967295 -5\n");
  EXPECT_EQ(FindWindowW(u"../registry.reg", nullptr), nullptr);  // class names are not paths
}

TEST(MessageBox, WritesTitleAndTextToTheErrorStreamAndAnswersOk) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxW(nullptr, u"Errorcode: 2", u"Error", MB_OK), IDOK);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Errorcode: 2\n");
}

TEST(NullWindows, AreHarmless) {
  EXPECT_FALSE(ShowWindow(nullptr, SW_HIDE));
  EXPECT_EQ(SendMessageW(nullptr, WM_COMMAND, 0, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

}  // namespace
