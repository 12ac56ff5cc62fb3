// Address texts and device text, shared by the back ends.
#include <gtest/gtest.h>

#include <cstring>

#include "bluez/common.h"
#include "bluez/text.h"

TEST(BlueZAddress, FormsAndParsing) {
  const uint8_t address[6] = {0x00, 0x0A, 0x3A, 0xBC, 0xDE, 0xF1};
  char colon[18], plain[13];
  bluez::formatAddress(address, colon);
  bluez::formatAddressPlain(address, plain);
  EXPECT_STREQ(colon, "00:0A:3A:BC:DE:F1");
  EXPECT_STREQ(plain, "000A3ABCDEF1");

  struct Case {
    const char* text;
    bool ok;
    uint8_t bytes[6];
  } cases[] = {
      {"00:0A:3A:BC:DE:F1", true, {0x00, 0x0A, 0x3A, 0xBC, 0xDE, 0xF1}},
      {"00-0a-3a-bc-de-f1", true, {0x00, 0x0A, 0x3A, 0xBC, 0xDE, 0xF1}},  // any separator, any case
      {"00 0A 3A BC DE F1 trailing", true, {0x00, 0x0A, 0x3A, 0xBC, 0xDE, 0xF1}},
      {"000A3ABCDEF1", false, {}},       // the plain form is not read
      {"00:0A:3A:BC:DE", false, {}},     // too short: nothing is read past the end
      {"00:0A:3A:BC:DE:G1", false, {}},  // no digit where a pair begins
      {"", false, {}},
  };
  for (const Case& c : cases) {
    uint8_t parsed[6] = {};
    EXPECT_EQ(bluez::parseAddress(c.text, parsed), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(std::memcmp(parsed, c.bytes, 6), 0) << c.text;
    }
  }
  EXPECT_FALSE(bluez::parseAddress(static_cast<const char*>(nullptr), nullptr));
}

TEST(BlueZText, Utf8OrLatin1) {
  struct Case {
    const char* bytes;
    size_t max;
    std::u16string text;
  } cases[] = {
      {"Meter 7", 248, u"Meter 7"},
      {"Z\xC3\xA4hler", 248, u"Z\u00E4hler"},
      {"Caf\xE9", 248, u"Caf\u00E9"},              // Latin-1
      {"\xC3", 248, u"\u00C3"},                    // cut sequence
      {"\xE0\x80\x80", 248, u"\u00E0\u0080\u0080"},  // overlong
      {"\xF0\x9F\x93\x9F x", 248, u"\U0001F4DF x"},
      {"abcdef", 3, u"abc"},  // never beyond the buffer
  };
  for (const Case& c : cases) EXPECT_EQ(bluez::textFromDeviceBytes(c.bytes, c.max), c.text) << c.bytes;
}
