#include "launch_options.h"

#include <cstring>

void initLaunchOptions(LaunchOptions& options) {
  std::memset(&options, 0, sizeof options);
  options.spValue.digits[0] = u'8';
  options.digitTarget = DIGITS_NONE;
}

static DigitField* targetField(LaunchOptions& options) {
  switch (options.digitTarget) {
    case DIGITS_MAX_HEAP: return &options.maxHeapDigits;
    case DIGITS_INITIAL_HEAP: return &options.initialHeapDigits;
    case DIGITS_SP_VALUE: return &options.spValue;
    case DIGITS_NONE: break;
  }
  return nullptr;
}

// The digit goes to the field's position with a NUL after it; the position advances while
// it is at most 9, so the first ten digits fill places 0 to 9 and every later one replaces
// the digit at place 10.
static void storeDigit(DigitField& field, WCHAR digit) {
  field.digits[field.position] = digit;
  field.digits[field.position + 1] = 0;
  if (field.position <= 9) ++field.position;
}

void parseLaunchOptions(const WCHAR* text, bool acceptsBattery, LaunchOptions& options) {
  for (const WCHAR* c = text; *c; ++c) {
    switch (*c) {
      case u'd': options.debugMode = true; break;
      case u'h': options.highMemory = true; break;
      case u'c': options.osgiConsole = true; break;
      case u'g': options.gpsConfig = true; break;
      case u's':
        options.noShutdown = true;
        options.exeInCommandLine = true;
        break;
      case u'S': options.exeInCommandLine = true; break;
      case u'f': options.useParamFile = true; break;
      case u'r': options.remoteDebug = true; break;
      case u'x':
        options.maxHeap = true;
        options.digitTarget = DIGITS_MAX_HEAP;
        break;
      case u'X':
        options.initialHeap = true;
        options.digitTarget = DIGITS_INITIAL_HEAP;
        break;
      case u'p': options.digitTarget = DIGITS_SP_VALUE; break;
      case u'b':
        if (acceptsBattery) options.batteryOverride = true;
        break;
      default:
        if (*c >= u'0' && *c <= u'9') {
          if (DigitField* field = targetField(options)) storeDigit(*field, *c);
        }
        break;
    }
  }
}
