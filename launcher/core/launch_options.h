// The launcher's option letters.
#pragma once

#include "windows.h"

// Each digit field holds at most 11 digits and a terminating NUL.
constexpr int DIGIT_FIELD_SIZE = 12;

enum DigitTarget { DIGITS_NONE, DIGITS_MAX_HEAP, DIGITS_INITIAL_HEAP, DIGITS_SP_VALUE };

struct DigitField {
  WCHAR digits[DIGIT_FIELD_SIZE];
  int position;  // where the next digit goes; never reset during a walk
};

struct LaunchOptions {
  bool debugMode;
  bool highMemory;
  bool osgiConsole;
  bool gpsConfig;
  bool noShutdown;
  bool exeInCommandLine;
  bool useParamFile;
  bool remoteDebug;
  bool maxHeap;
  DigitField maxHeapDigits;
  bool initialHeap;
  DigitField initialHeapDigits;
  DigitField spValue;
  bool batteryOverride;
  DigitTarget digitTarget;
};

// All flags false, digit fields empty, spValue "8".
void initLaunchOptions(LaunchOptions& options);

// Walks the option string letter by letter. `acceptsBattery` is true in the handheld builds,
// where b sets batteryOverride; the desktop build ignores b.
void parseLaunchOptions(const WCHAR* text, bool acceptsBattery, LaunchOptions& options);
