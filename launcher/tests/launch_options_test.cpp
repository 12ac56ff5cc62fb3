#include <gtest/gtest.h>

#include <string>

#include "launch_options.h"
#include "vork/text.h"

namespace {

std::string text(const WCHAR* digits) { return vork::utf8FromUtf16(digits); }

LaunchOptions parse(const char* letters, bool handheld = true) {
  LaunchOptions options;
  initLaunchOptions(options);
  parseLaunchOptions(vork::utf16FromUtf8(letters).c_str(), handheld, options);
  return options;
}

// What a parse yields, written compactly: flags as letters, then the three digit fields.
std::string summary(const LaunchOptions& o) {
  std::string flags;
  if (o.debugMode) flags += 'd';
  if (o.highMemory) flags += 'h';
  if (o.osgiConsole) flags += 'c';
  if (o.gpsConfig) flags += 'g';
  if (o.noShutdown) flags += 'n';
  if (o.exeInCommandLine) flags += 'e';
  if (o.useParamFile) flags += 'f';
  if (o.remoteDebug) flags += 'r';
  if (o.maxHeap) flags += 'x';
  if (o.initialHeap) flags += 'X';
  if (o.batteryOverride) flags += 'b';
  return flags + " x=" + text(o.maxHeapDigits.digits) + " X=" + text(o.initialHeapDigits.digits) +
         " p=" + text(o.spValue.digits);
}

struct Case {
  const char* letters;
  bool handheld;
  const char* expected;
};

class OptionLetters : public ::testing::TestWithParam<Case> {};

TEST_P(OptionLetters, YieldOptions) {
  const Case& c = GetParam();
  EXPECT_EQ(summary(parse(c.letters, c.handheld)), c.expected) << "options \"" << c.letters << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Table, OptionLetters,
    ::testing::Values(
        Case{"", true, " x= X= p=8"},
        Case{"dhcgfr", true, "dhcgfr x= X= p=8"},
        Case{"s", true, "ne x= X= p=8"},                          // s: noShutdown and exeInCommandLine
        Case{"S", true, "e x= X= p=8"},                           // S: only exeInCommandLine
        Case{"D H-C ?", true, " x= X= p=8"},                      // unknown letters, minus, blanks
        Case{"123x45", true, "x x=45 X= p=8"},                    // digits before any target are ignored
        Case{"x12x34", true, "x x=1234 X= p=8"},                  // positions persist
        Case{"x25c6", true, "cx x=256 X= p=8"},                   // letters do not end a run of digits
        Case{"p16", true, " x= X= p=16"},                         // first digit overwrites "8"
        Case{"p", true, " x= X= p=8"},                            // p alone keeps "8"
        Case{"p3x64", true, "x x=64 X= p=3"},                     // after p then x, digits go to maxHeap
        Case{"X32x128", true, "xX x=128 X=32 p=8"},
        Case{"x12345678901234", true, "x x=12345678904 X= p=8"},  // first ten and the last
        Case{"x12345678901", true, "x x=12345678901 X= p=8"},     // exactly eleven fit
        Case{"x", true, "x x= X= p=8"},                           // no digits: the field stays empty
        Case{"b", true, "b x= X= p=8"},
        Case{"b", false, " x= X= p=8"}));                         // desktop ignores b

}  // namespace
