// One COM port at 9600 baud, 8N1, polled from Java: the bytes the driver holds are moved into
// a ring by isDataAvailable and handed out one at a time by read.
#include "serial_port.h"

#include <cmath>
#include <cstring>

namespace serial {

namespace {

SerialPort thePort = [] {
  SerialPort p{};
  p.handle = INVALID_HANDLE_VALUE;
  p.portNumber = 1;
  p.settings.DCBlength = sizeof(DCB);
  p.ringSize = kRingSize;
  p.readChunkSize = kReadChunk;
  return p;
}();

bool isOpen() { return thePort.handle != INVALID_HANDLE_VALUE; }

void closeHandle() {
  if (isOpen()) {
    CloseHandle(thePort.handle);
    thePort.handle = INVALID_HANDLE_VALUE;
  }
}

// 9600 baud, 8 data bits, no parity, one stop bit, no flow control, DTR and RTS on.
void applyLineSettings(DCB& dcb) {
  dcb.BaudRate = CBR_9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = TRUE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = FALSE;
}

// Writes the settings and waits for the driver to take them: up to five tries, each read
// back after 20 ms; a port whose baud rate never reads back the same is used anyway.
bool commitSettings() {
  for (int attempt = 0; attempt < kSettleAttempts; ++attempt) {
    if (!SetCommState(thePort.handle, &thePort.settings)) {
      closeHandle();
      return false;
    }
    Sleep(kSettleMilliseconds);
    DCB current{};
    current.DCBlength = sizeof(DCB);
    if (GetCommState(thePort.handle, &current) && current.BaudRate == thePort.settings.BaudRate) {
      return true;
    }
  }
  return true;
}

void setTimeouts() {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;  // with zero totals: return at once with what is there
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  // Milliseconds per byte: 2 at 9600 baud.
  double perByte = 1.0 - std::trunc((1000.0 / thePort.settings.BaudRate) * -12.0);
  timeouts.WriteTotalTimeoutMultiplier = static_cast<DWORD>(perByte);
  timeouts.WriteTotalTimeoutConstant = 0;
  SetCommTimeouts(thePort.handle, &timeouts);
}

// Bytes the ring can take before it would overwrite unread ones (one slot stays free, so a
// full ring is never mistaken for an empty one).
int ringRoom() {
  int used = thePort.writePos - thePort.readPos;
  if (used < 0) used += thePort.ringSize;
  return thePort.ringSize - 1 - used;
}

}  // namespace

SerialPort& port() { return thePort; }

void deviceName(int number, WCHAR* name) {
#ifdef VORK_SERIAL_HANDHELD
  static const char16_t prefix[] = u"COM";
#else
  static const char16_t prefix[] = u"\\\\.\\COM";
#endif
  int at = 0;
  for (const char16_t* p = prefix; *p; ++p) name[at++] = *p;
  char16_t digits[4];
  int count = 0;
  do {
    digits[count++] = static_cast<char16_t>(u'0' + number % 10);
    number /= 10;
  } while (number > 0 && count < 3);
  while (count > 0) name[at++] = digits[--count];
#ifdef VORK_SERIAL_HANDHELD
  name[at++] = u':';
#endif
  name[at] = 0;
}

int openPort(int index) {
  if (index < 0 || index > 998) {  // COM1 to COM999 only
    closeHandle();
    return 0;
  }
  thePort.portNumber = index + 1;
  closeHandle();
  WCHAR name[16];
  deviceName(thePort.portNumber, name);
  thePort.handle = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
  if (!isOpen()) return 0;
  thePort.settings.DCBlength = sizeof(DCB);
  if (!GetCommState(thePort.handle, &thePort.settings)) closeHandle();
  applyLineSettings(thePort.settings);
  if (!commitSettings()) return 0;
  SetupComm(thePort.handle, kQueueSize, kQueueSize);
  setTimeouts();
  return isOpen() ? 1 : 0;
}

void closePort() { closeHandle(); }

int sendBytes(const BYTE* bytes, int count) {
  if (!isOpen()) return -count;
  DWORD errors = 0;
  COMSTAT status{};
  DWORD written = 0;
#ifdef VORK_SERIAL_HANDHELD
  ClearCommError(thePort.handle, &errors, &status);
  WriteFile(thePort.handle, bytes, static_cast<DWORD>(count), &written, nullptr);
#else
  ClearCommError(thePort.handle, &errors, &status);
  if (errors == 0) {
    OVERLAPPED overlapped{};
    WriteFile(thePort.handle, bytes, static_cast<DWORD>(count), &written, &overlapped);
  }
  // Returns once the driver has sent everything.
  while (ClearCommError(thePort.handle, &errors, &status) && status.cbOutQue != 0) {
  }
#endif
  return static_cast<int>(written);
}

void pollInput() {
  if (!isOpen()) return;
  DWORD errors = 0;
  COMSTAT status{};
#ifdef VORK_SERIAL_HANDHELD
  ClearCommError(thePort.handle, &errors, &status);
#else
  ClearCommError(thePort.handle, &errors, &status);
  if (status.cbInQue == 0) return;
#endif
  // Take no more than the ring has room for; the rest waits in the driver until Java reads.
  int want = ringRoom();
  if (want > thePort.readChunkSize) want = thePort.readChunkSize;
  if (want <= 0) return;
  DWORD got = 0;
  if (!ReadFile(thePort.handle, thePort.chunk, static_cast<DWORD>(want), &got, nullptr)) return;
  for (DWORD i = 0; i < got && i < static_cast<DWORD>(want); ++i) {
    thePort.inputRing[thePort.writePos] = thePort.chunk[i];
    if (++thePort.writePos == thePort.ringSize) thePort.writePos = 0;
  }
}

bool isDataAvailable() {
  pollInput();
  if (thePort.readPos == thePort.writePos) return false;
  if (thePort.writePos == thePort.lastReportedPos) return false;
  thePort.lastReportedPos = thePort.writePos;
  return true;
}

int readByte() {
  if (thePort.readPos == thePort.writePos) return -1;
  int value = thePort.inputRing[thePort.readPos];
  if (++thePort.readPos == thePort.ringSize) thePort.readPos = 0;
  return value;
}

}  // namespace serial
