// Serial ports: COMn is the terminal <device root>/dev/COMn (a user links it to /dev/ttyUSB0,
// a test to a pseudo-terminal), driven through termios.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <linux/serial.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "vork/control.h"
#include "vork/core_internal.h"
#include "vork/text.h"
#include "windows.h"

using namespace vork;

namespace {

using Clock = std::chrono::steady_clock;

struct CommPort {
  int fd;
  DWORD number;  // n of COMn
  bool canRead;
  bool canWrite;
  std::mutex lock;  // guards the fields below
  DCB settings;      // the last record set or read; termios holds what it can of it
  COMMTIMEOUTS timeouts;
  DWORD inQueueSize;
  DWORD outQueueSize;
  bool haveCounts;  // the driver counts line errors (real serial ports; not pseudo-terminals)
  serial_icounter_struct counts;
  std::atomic<DWORD> pendingErrors;  // raised and not yet answered by ClearCommError
};

// Open ports, so the control interface can reach them. Lives as long as the process.
std::mutex portsLock;
std::vector<CommPort*>& openPorts() {
  static std::vector<CommPort*>& ports = *new std::vector<CommPort*>;
  return ports;
}

void failWithErrno(int error) { SetLastError(errorFromErrno(error)); }

void commDestroy(KernelObject* object) {
  auto* port = static_cast<CommPort*>(object->data);
  {
    std::lock_guard<std::mutex> guard(portsLock);
    auto& ports = openPorts();
    ports.erase(std::remove(ports.begin(), ports.end(), port), ports.end());
  }
  ::close(port->fd);  // also drops the lock that keeps the port to this handle
  delete port;
}

// ---- Waiting on the descriptor --------------------------------------------------------------

// Milliseconds left until the deadline for poll(), at least 1 while it is in the future.
int pollMilliseconds(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return static_cast<int>(std::min<long long>(left + 1, 1000));
}

Clock::time_point deadlineAfter(uint64_t deviceMilliseconds) {
  // Long waits are capped at a day; far enough for any device timeout in practice.
  uint64_t capped = std::min<uint64_t>(deviceMilliseconds, 24ull * 3600 * 1000);
  return Clock::now() + hostDuration(static_cast<DWORD>(capped));
}

// ---- ReadFile and WriteFile -------------------------------------------------------------------

BOOL commRead(KernelObject* object, void* buffer, DWORD size, DWORD* done) {
  auto* port = static_cast<CommPort*>(object->data);
  *done = 0;
  if (!port->canRead) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (size == 0) return TRUE;
  COMMTIMEOUTS t;
  {
    std::lock_guard<std::mutex> guard(port->lock);
    t = port->timeouts;
  }
  const bool atOnce = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                      t.ReadTotalTimeoutConstant == 0;
  const bool firstByte = t.ReadIntervalTimeout == MAXDWORD &&
                         t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                         t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
  bool haveTotal = false;
  Clock::time_point total{};
  if (firstByte) {
    haveTotal = true;
    total = deadlineAfter(t.ReadTotalTimeoutConstant);
  } else if (!atOnce && (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0)) {
    haveTotal = true;
    total = deadlineAfter(static_cast<uint64_t>(t.ReadTotalTimeoutMultiplier) * size +
                          t.ReadTotalTimeoutConstant);
  }
  const bool haveInterval = !atOnce && !firstByte && t.ReadIntervalTimeout != 0;

  auto* bytes = static_cast<unsigned char*>(buffer);
  DWORD got = 0;
  Clock::time_point lastByte{};
  while (got < size) {
    ssize_t n = ::read(port->fd, bytes + got, size - got);
    if (n > 0) {
      got += static_cast<DWORD>(n);
      lastByte = Clock::now();
      continue;
    }
    if (n == 0) {
      // In raw mode an empty queue also reads as 0 bytes; a hung-up line (the peer or the
      // adapter gone) says so on poll.
      pollfd p{port->fd, POLLIN, 0};
      if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR))) {
        if (got > 0) break;
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
      }
    } else if (errno == EINTR) {
      continue;
    } else if (errno != EAGAIN) {
      if (got > 0) break;
      failWithErrno(errno);
      return FALSE;
    }
    // Nothing more waiting now.
    if (atOnce || (firstByte && got > 0)) break;
    int wait = -1;
    if (haveTotal) wait = pollMilliseconds(total);
    if (haveInterval && got > 0) {
      int gap = pollMilliseconds(lastByte + hostDuration(t.ReadIntervalTimeout));
      wait = wait < 0 ? gap : std::min(wait, gap);
    }
    if (wait == 0) break;
    pollfd p{port->fd, POLLIN, 0};
    int ready = ::poll(&p, 1, wait < 0 ? 1000 : wait);
    if (ready < 0 && errno != EINTR) {
      failWithErrno(errno);
      return FALSE;
    }
  }
  *done = got;
  return TRUE;
}

BOOL commWrite(KernelObject* object, const void* buffer, DWORD size, DWORD* done) {
  auto* port = static_cast<CommPort*>(object->data);
  *done = 0;
  if (!port->canWrite) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  COMMTIMEOUTS t;
  {
    std::lock_guard<std::mutex> guard(port->lock);
    t = port->timeouts;
  }
  bool haveTotal = t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0;
  Clock::time_point total{};
  if (haveTotal) {
    total = deadlineAfter(static_cast<uint64_t>(t.WriteTotalTimeoutMultiplier) * size +
                          t.WriteTotalTimeoutConstant);
  }
  auto* bytes = static_cast<const unsigned char*>(buffer);
  DWORD sent = 0;
  while (sent < size) {
    ssize_t n = ::write(port->fd, bytes + sent, size - sent);
    if (n > 0) {
      sent += static_cast<DWORD>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      *done = sent;
      failWithErrno(errno);
      return FALSE;
    }
    // The driver's queue is full: wait for room until the write timeout.
    int wait = haveTotal ? pollMilliseconds(total) : 1000;
    if (wait == 0) break;  // timed out: the call succeeds with what went out
    pollfd p{port->fd, POLLOUT, 0};
    if (::poll(&p, 1, wait) < 0 && errno != EINTR) {
      *done = sent;
      failWithErrno(errno);
      return FALSE;
    }
  }
  *done = sent;
  return TRUE;
}

const ObjectOps commOps{"comm", commDestroy, nullptr, commRead, commWrite};

// ---- Opening ----------------------------------------------------------------------------------

// n of "COMn:" or "\\.\COMn" (also "COMn"), 1 to 999 written without leading zeros; 0 when
// the name names no port.
DWORD portNumberOf(const char16_t* name) {
  std::u16string text(name);
  if (text.compare(0, 4, u"\\\\.\\") == 0) {
    text.erase(0, 4);
  } else if (!text.empty() && text.back() == u':') {
    text.pop_back();
  }
  if (text.size() < 4 || text.size() > 6 || text.compare(0, 3, u"COM") != 0) return 0;
  if (text[3] == u'0') return 0;
  DWORD number = 0;
  for (size_t i = 3; i < text.size(); ++i) {
    if (text[i] < u'0' || text[i] > u'9') return 0;
    number = number * 10 + static_cast<DWORD>(text[i] - u'0');
  }
  return number;
}

// The line's state as a device-control record; fields termios cannot hold come from `kept`.
bool readSettings(int fd, const DCB& kept, DCB& out);

HANDLE commOpen(const char16_t* name, DWORD desiredAccess, DWORD creationDisposition) {
  DWORD number = portNumberOf(name);
  if (number == 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (creationDisposition != OPEN_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string path = deviceRoot() + "/dev/COM" + std::to_string(number);
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    bool noPort = error == ENOENT || error == ENOTDIR || error == EISDIR || error == ELOOP;
    SetLastError(noPort ? ERROR_FILE_NOT_FOUND : errorFromErrno(error));
    return INVALID_HANDLE_VALUE;
  }
  if (!isatty(fd)) {  // a file or folder linked by mistake is no port
    ::close(fd);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // A port belongs to one handle at a time, across processes too.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  auto* port = new CommPort{};
  port->fd = fd;
  port->number = number;
  port->canRead = (desiredAccess & GENERIC_READ) != 0;
  port->canWrite = (desiredAccess & GENERIC_WRITE) != 0;
  port->timeouts = COMMTIMEOUTS{};
  port->inQueueSize = 4096;
  port->outQueueSize = 4096;
  port->pendingErrors = 0;
  DCB defaults{};
  defaults.DCBlength = sizeof(DCB);
  defaults.fBinary = 1;
  defaults.fDtrControl = DTR_CONTROL_ENABLE;
  defaults.fRtsControl = RTS_CONTROL_ENABLE;
  defaults.XonLim = 2048;
  defaults.XoffLim = 512;
  defaults.XonChar = 0x11;
  defaults.XoffChar = 0x13;
  if (!readSettings(fd, defaults, port->settings)) port->settings = defaults;
  port->haveCounts = ioctl(fd, TIOCGICOUNT, &port->counts) == 0;
  {
    std::lock_guard<std::mutex> guard(portsLock);
    openPorts().push_back(port);
  }
  SetLastError(ERROR_SUCCESS);
  return newHandle(&commOps, port);
}

struct Registration {
  Registration() {
    registerDevice(u"COM", commOpen);
    registerDevice(u"\\\\.\\COM", commOpen);
  }
} registration;

// ---- Line settings ------------------------------------------------------------------------------

struct Speed {
  DWORD baud;
  speed_t code;
};
const Speed speeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool speedCode(DWORD baud, speed_t& code) {
  for (const Speed& s : speeds) {
    if (s.baud == baud) {
      code = s.code;
      return true;
    }
  }
  return false;
}

DWORD baudOf(speed_t code) {
  for (const Speed& s : speeds) {
    if (s.code == code) return s.baud;
  }
  return 0;
}

bool readSettings(int fd, const DCB& kept, DCB& out) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  out = kept;
  out.DCBlength = sizeof(DCB);
  out.BaudRate = baudOf(cfgetospeed(&tio));
  switch (tio.c_cflag & CSIZE) {
    case CS5: out.ByteSize = 5; break;
    case CS6: out.ByteSize = 6; break;
    case CS7: out.ByteSize = 7; break;
    default: out.ByteSize = 8; break;
  }
  if (!(tio.c_cflag & PARENB)) {
    out.Parity = NOPARITY;
  } else if (tio.c_cflag & CMSPAR) {
    out.Parity = (tio.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
  } else {
    out.Parity = (tio.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
  }
  if (tio.c_cflag & CSTOPB) {
    out.StopBits = out.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
  } else {
    out.StopBits = ONESTOPBIT;
  }
  out.fBinary = 1;
  out.fParity = (tio.c_iflag & INPCK) ? 1 : 0;
  bool hardware = (tio.c_cflag & CRTSCTS) != 0;
  out.fOutxCtsFlow = hardware ? 1 : 0;
  if (hardware) {
    out.fRtsControl = RTS_CONTROL_HANDSHAKE;
  } else if (kept.fRtsControl == RTS_CONTROL_HANDSHAKE) {
    out.fRtsControl = RTS_CONTROL_ENABLE;
  }
  out.fOutX = (tio.c_iflag & IXON) ? 1 : 0;
  out.fInX = (tio.c_iflag & IXOFF) ? 1 : 0;
  out.XonChar = static_cast<char>(tio.c_cc[VSTART]);
  out.XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
  // Modem lines, where the driver has them (pseudo-terminals have none).
  int lines = 0;
  if (ioctl(fd, TIOCMGET, &lines) == 0) {
    if (out.fDtrControl != DTR_CONTROL_HANDSHAKE) {
      out.fDtrControl = (lines & TIOCM_DTR) ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    }
    if (!hardware) out.fRtsControl = (lines & TIOCM_RTS) ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  }
  return true;
}

// Refuses what this platform cannot carry out rather than pretending to.
DWORD checkSettings(const DCB& dcb, speed_t& code) {
  if (!speedCode(dcb.BaudRate, code)) return ERROR_INVALID_PARAMETER;
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return ERROR_INVALID_PARAMETER;
  if (dcb.Parity > SPACEPARITY) return ERROR_INVALID_PARAMETER;
  if (dcb.StopBits > TWOSTOPBITS) return ERROR_INVALID_PARAMETER;
  if (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) return ERROR_INVALID_PARAMETER;
  if (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5) return ERROR_INVALID_PARAMETER;
  if (!dcb.fBinary) return ERROR_INVALID_PARAMETER;  // the device knows no other mode
  // Flow control by DSR/DTR, error-character replacement, null stripping and abort on error
  // have no counterpart in a Linux terminal.
  if (dcb.fOutxDsrFlow || dcb.fDsrSensitivity || dcb.fDtrControl == DTR_CONTROL_HANDSHAKE ||
      dcb.fRtsControl == RTS_CONTROL_TOGGLE || dcb.fErrorChar || dcb.fNull || dcb.fAbortOnError) {
    return ERROR_NOT_SUPPORTED;
  }
  // CTS output flow and RTS input flow go together in a Linux terminal.
  if (dcb.fOutxCtsFlow != (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)) return ERROR_NOT_SUPPORTED;
  return ERROR_SUCCESS;
}

void setLine(int fd, int line, bool on) {
  // Pseudo-terminals have no modem lines; the request is then kept in the record only.
  ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

KernelObject* portOf(HANDLE handle) {
  KernelObject* object = objectOf(handle, &commOps);
  if (!object) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}

}  // namespace

BOOL GetCommState(HANDLE handle, LPDCB dcb) {
  KernelObject* object = portOf(handle);
  if (!object) return FALSE;
  if (!dcb) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* port = static_cast<CommPort*>(object->data);
  std::lock_guard<std::mutex> guard(port->lock);
  DCB current{};
  if (!readSettings(port->fd, port->settings, current)) {
    failWithErrno(errno);
    return FALSE;
  }
  port->settings = current;
  *dcb = current;
  return TRUE;
}

BOOL SetCommState(HANDLE handle, LPDCB dcb) {
  KernelObject* object = portOf(handle);
  if (!object) return FALSE;
  if (!dcb) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* port = static_cast<CommPort*>(object->data);
  speed_t code = B0;
  if (DWORD refused = checkSettings(*dcb, code)) {
    SetLastError(refused);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(port->lock);
  termios tio{};
  if (tcgetattr(port->fd, &tio) != 0) {
    failWithErrno(errno);
    return FALSE;
  }
  // Raw bytes both ways: no line editing, echo, signals or translations.
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK | IGNPAR);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= CREAD | CLOCAL;
  static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  tio.c_cflag |= sizes[dcb->ByteSize - 5];
  switch (dcb->Parity) {
    case ODDPARITY: tio.c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: tio.c_cflag |= PARENB; break;
    case MARKPARITY: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case SPACEPARITY: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (dcb->StopBits != ONESTOPBIT) tio.c_cflag |= CSTOPB;
  if (dcb->fParity) tio.c_iflag |= INPCK;
  if (dcb->fOutxCtsFlow) tio.c_cflag |= CRTSCTS;
  if (dcb->fOutX) tio.c_iflag |= IXON;
  if (dcb->fInX) tio.c_iflag |= IXOFF;
  tio.c_cc[VSTART] = static_cast<cc_t>(dcb->XonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(dcb->XoffChar);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, code);
  cfsetospeed(&tio, code);
  termios before{};
  if (tcgetattr(port->fd, &before) != 0 || tcsetattr(port->fd, TCSANOW, &tio) != 0) {
    failWithErrno(errno);
    return FALSE;
  }
  // A driver adjusts what it cannot do (a pseudo-terminal always carries 8 bits without
  // parity); such a record is refused and the line keeps its settings.
  termios taken{};
  const tcflag_t line = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
  if (tcgetattr(port->fd, &taken) != 0 || (taken.c_cflag & line) != (tio.c_cflag & line) ||
      cfgetospeed(&taken) != code) {
    tcsetattr(port->fd, TCSANOW, &before);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (dcb->fDtrControl != DTR_CONTROL_HANDSHAKE) {
    setLine(port->fd, TIOCM_DTR, dcb->fDtrControl == DTR_CONTROL_ENABLE);
  }
  if (dcb->fRtsControl != RTS_CONTROL_HANDSHAKE) {
    setLine(port->fd, TIOCM_RTS, dcb->fRtsControl == RTS_CONTROL_ENABLE);
  }
  port->settings = *dcb;
  port->settings.DCBlength = sizeof(DCB);
  return TRUE;
}

BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
  KernelObject* object = portOf(handle);
  if (!object) return FALSE;
  if (inQueue == 0 || outQueue == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // The kernel sizes a terminal's queues itself; the request is recorded.
  auto* port = static_cast<CommPort*>(object->data);
  std::lock_guard<std::mutex> guard(port->lock);
  port->inQueueSize = inQueue;
  port->outQueueSize = outQueue;
  return TRUE;
}

BOOL SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  KernelObject* object = portOf(handle);
  if (!object) return FALSE;
  if (!timeouts) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* port = static_cast<CommPort*>(object->data);
  std::lock_guard<std::mutex> guard(port->lock);
  port->timeouts = *timeouts;
  return TRUE;
}

BOOL GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  KernelObject* object = portOf(handle);
  if (!object) return FALSE;
  if (!timeouts) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* port = static_cast<CommPort*>(object->data);
  std::lock_guard<std::mutex> guard(port->lock);
  *timeouts = port->timeouts;
  return TRUE;
}

BOOL ClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
  KernelObject* object = portOf(handle);
  if (!object) return FALSE;
  auto* port = static_cast<CommPort*>(object->data);
  int in = 0;
  int out = 0;
  if (ioctl(port->fd, TIOCINQ, &in) != 0 || ioctl(port->fd, TIOCOUTQ, &out) != 0) {
    failWithErrno(errno);
    return FALSE;
  }
  DWORD flags = port->pendingErrors.exchange(0);
  {
    std::lock_guard<std::mutex> guard(port->lock);
    serial_icounter_struct now{};
    if (port->haveCounts && ioctl(port->fd, TIOCGICOUNT, &now) == 0) {
      if (now.frame != port->counts.frame) flags |= CE_FRAME;
      if (now.overrun != port->counts.overrun) flags |= CE_OVERRUN;
      if (now.parity != port->counts.parity) flags |= CE_RXPARITY;
      if (now.brk != port->counts.brk) flags |= CE_BREAK;
      if (now.buf_overrun != port->counts.buf_overrun) flags |= CE_RXOVER;
      port->counts = now;
    }
    if (status) {
      std::memset(status, 0, sizeof(*status));
      status->cbInQue = static_cast<DWORD>(std::max(in, 0));
      status->cbOutQue = static_cast<DWORD>(std::max(out, 0));
    }
  }
  if (errors) *errors = flags;
  return TRUE;
}

extern "C" int VorkControl_RaiseCommError(unsigned number, uint32_t errors) {
  std::lock_guard<std::mutex> guard(portsLock);
  int reached = 0;
  for (CommPort* port : openPorts()) {
    if (port->number == number) {
      port->pendingErrors |= errors;
      ++reached;
    }
  }
  return reached;
}
