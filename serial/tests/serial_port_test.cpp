// The serial core of one build (desktop or handheld, chosen at compile time).
#include <gtest/gtest.h>

#include <string>

#include "serial_port.h"

namespace {

std::u16string nameOf(int number) {
  WCHAR name[16];
  serial::deviceName(number, name);
  return name;
}

TEST(SerialPortName, WritesTheNumberWithoutLeadingZeros) {
  struct Case {
    int number;
    const char16_t* desktop;
    const char16_t* handheld;
  };
  const Case cases[] = {
      {1, u"\\\\.\\COM1", u"COM1:"},     {9, u"\\\\.\\COM9", u"COM9:"},
      {10, u"\\\\.\\COM10", u"COM10:"},  {99, u"\\\\.\\COM99", u"COM99:"},
      {100, u"\\\\.\\COM100", u"COM100:"}, {999, u"\\\\.\\COM999", u"COM999:"},
  };
  for (const Case& c : cases) {
#ifdef VORK_SERIAL_HANDHELD
    EXPECT_EQ(nameOf(c.number), c.handheld) << c.number;
#else
    EXPECT_EQ(nameOf(c.number), c.desktop) << c.number;
#endif
  }
}

TEST(SerialPortRecord, StartValues) {
  const serial::SerialPort& port = serial::port();
  EXPECT_EQ(port.handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(port.portNumber, 1);
  EXPECT_EQ(port.settings.DCBlength, sizeof(DCB));
#ifdef VORK_SERIAL_HANDHELD
  EXPECT_EQ(port.ringSize, 2000);
  EXPECT_EQ(port.readChunkSize, 1000);
#else
  EXPECT_EQ(port.ringSize, 12288);
  EXPECT_EQ(port.readChunkSize, 6144);
#endif
  EXPECT_EQ(port.readPos, 0);
  EXPECT_EQ(port.writePos, 0);
  EXPECT_EQ(port.lastReportedPos, 0);
}

}  // namespace
