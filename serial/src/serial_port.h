// The one serial port of the process, as the Java natives drive it.
#pragma once

#include <windows.h>

namespace serial {

#ifdef VORK_SERIAL_HANDHELD
constexpr int kRingSize = 2000;
constexpr int kReadChunk = 1000;
#else
constexpr int kRingSize = 12288;
constexpr int kReadChunk = 6144;
#endif
constexpr DWORD kQueueSize = 6144;
constexpr int kSettleAttempts = 5;
constexpr DWORD kSettleMilliseconds = 20;

struct SerialPort {
  HANDLE handle;
  int portNumber;  // COM number of the next open: Java's port index plus 1
  DCB settings;
  BYTE inputRing[kRingSize];
  int ringSize;
  int readChunkSize;
  int readPos;          // next ring position to hand to Java
  int writePos;         // next ring position to fill
  int lastReportedPos;  // writePos when isDataAvailable last answered true
  BYTE chunk[kReadChunk];  // one poll's read buffer, reused
};

// The process-wide record, set up when the library is loaded.
SerialPort& port();

// The device name of COM port `number` (1 to 999) into `name` (room for 16 characters).
void deviceName(int number, WCHAR* name);

// Opens COM port index+1 with the fixed line settings; 1 on success, 0 otherwise.
int openPort(int index);
void closePort();
// Bytes written, or -count when no port is open.
int sendBytes(const BYTE* bytes, int count);
// Moves what the driver holds into the ring, as far as the ring has room.
void pollInput();
bool isDataAvailable();
// The next received byte as 0 to 255, or -1 when none is waiting.
int readByte();

}  // namespace serial
