// The key table: toolkit key codes and the device's virtual keys.
#include "hvl.h"

namespace {

const struct {
  int virtualKey;
  int code;
} keys[] = {
    {0x12, 1018}, {0x10, 1017}, {0x11, 1019},                                // Alt, Shift, Control
    {0x26, 1015}, {0x28, 1016}, {0x25, 1013}, {0x27, 1014},                  // arrows
    {0x21, 1009}, {0x22, 1010}, {0x24, 1007}, {0x23, 1008}, {0x2D, 1011},    // paging, Insert
    {0x08, 1000}, {0x0D, 1002}, {0x2E, 1012}, {0x1B, 1003}, {0x09, 1001},    // editing keys
    {0x70, 1023}, {0x71, 1024}, {0x72, 1025}, {0x73, 1026}, {0x74, 1027},    // F1 to F5
    {0x75, 1028}, {0x76, 1029}, {0x77, 1030}, {0x78, 1031}, {0x79, 1032},    // F6 to F10
    {0x7A, 1033}, {0x7B, 1034}, {0x7C, 1035}, {0x7D, 1036}, {0x7E, 1037},    // F11 to F15
    {0x6A, 1067}, {0x6B, 1068}, {0x0D, 1082},                                // keypad *, +, Enter
    {0x6D, 1069}, {0x6E, 1070}, {0x6F, 1071},                                // keypad -, ., /
    {0x60, 1072}, {0x61, 1073}, {0x62, 1074}, {0x63, 1075}, {0x64, 1076},    // keypad 0 to 4
    {0x65, 1077}, {0x66, 1078}, {0x67, 1079}, {0x68, 1080}, {0x69, 1081},    // keypad 5 to 9
    {0x14, 1020}, {0x90, 1021}, {0x91, 1022},                                // locks
    {0x13, 1006}, {0x03, 1008}, {0x2C, 1005},                                // Pause, Cancel, Print Screen
};

}  // namespace

int hvlVirtualKeyOfCode(int code) {
  for (const auto& key : keys) {
    if (key.code == code) return key.virtualKey;
  }
  return 0;
}

int hvlCodeOfVirtualKey(int virtualKey) {
  for (const auto& key : keys) {
    if (key.virtualKey == virtualKey) return key.code;
  }
  return 0;
}
