// Serial ports: COMn names reach <device root>/dev/COMn, here a pseudo-terminal whose master
// side the test holds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "vork/control.h"
#include "windows.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string utf8(const char16_t* text) {
  std::string out;
  for (; *text; ++text) out += static_cast<char>(*text);
  return out;
}

// An open port, closed when the test ends (also when an assertion ends it early).
struct Port {
  HANDLE handle;
  explicit Port(HANDLE h) : handle(h) {}
  ~Port() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  operator HANDLE() const { return handle; }
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;
};

class CommTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/comm-test-XXXXXX";
    root_ = mkdtemp(pattern);
    VorkControl_SetDeviceRoot(root_.c_str());
    mkdir((root_ + "/dev").c_str(), 0755);
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_ = ptsname(master_);
    link("COM3", slave_);
  }

  void TearDown() override {
    VorkControl_SetClockScale(1);
    if (master_ >= 0) close(master_);
    std::string command = "rm -rf '" + root_ + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }

  void link(const std::string& name, const std::string& target) {
    std::string path = root_ + "/dev/" + name;
    unlink(path.c_str());
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
  }

  static HANDLE open(const char16_t* name, DWORD access = GENERIC_READ | GENERIC_WRITE,
                     DWORD disposition = OPEN_EXISTING) {
    return CreateFileW(name, access, 0, nullptr, disposition, FILE_FLAG_NO_BUFFERING, nullptr);
  }

  void send(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  std::string receive(size_t count, int timeoutMs = 2000) {
    std::string out;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count && Clock::now() < deadline) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      char buffer[4096];
      ssize_t n = read(master_, buffer, std::min(sizeof(buffer), count - out.size()));
      if (n > 0) out.append(buffer, static_cast<size_t>(n));
    }
    return out;
  }

  // Waits until the driver holds `count` received bytes.
  static void awaitInput(HANDLE port, DWORD count) {
    COMSTAT status{};
    DWORD errors = 0;
    for (int i = 0; i < 2000; ++i) {
      ASSERT_TRUE(ClearCommError(port, &errors, &status));
      if (status.cbInQue >= count) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    FAIL() << "only " << status.cbInQue << " bytes arrived";
  }

  termios slaveTermios() {
    int fd = ::open(slave_.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    EXPECT_EQ(tcgetattr(fd, &tio), 0);
    close(fd);
    return tio;
  }

  static DCB lineSettings(HANDLE port) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    EXPECT_TRUE(GetCommState(port, &dcb));
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
    return dcb;
  }

  static DWORD flagsWord(const DCB& dcb) {
    DWORD flags;
    std::memcpy(&flags, reinterpret_cast<const char*>(&dcb) + 2 * sizeof(DWORD), sizeof(flags));
    return flags;
  }

  std::string root_;
  std::string slave_;
  int master_ = -1;
};

TEST_F(CommTest, OpensBothNameFormsOfAPort) {
  for (const char16_t* name : {u"COM3:", u"\\\\.\\COM3", u"COM3"}) {
    HANDLE port = open(name);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_TRUE(CloseHandle(port));
  }
}

TEST_F(CommTest, RefusalsCarryTheDeviceErrorNumbers) {
  link("COM5", root_ + "/nothing-here");
  std::string file = root_ + "/plain";
  close(::open(file.c_str(), O_CREAT | O_WRONLY, 0644));
  link("COM6", file);
  link("COM7", root_);
  struct Case {
    const char16_t* name;
    DWORD disposition;
    DWORD error;
  } cases[] = {
      {u"COM0:", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},      {u"COM03:", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
      {u"COMx:", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},      {u"COM1000:", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
      {u"COM4:", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},      {u"COM5:", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
      {u"COM6:", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},      {u"COM7:", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
      {u"COM3:", CREATE_ALWAYS, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(open(c.name, GENERIC_READ | GENERIC_WRITE, c.disposition), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.error) << utf8(c.name);
  }
  // A port belongs to one handle at a time.
  {
    Port first(open(u"COM3:"));
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(open(u"\\\\.\\COM3"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  Port again(open(u"COM3:"));
  EXPECT_NE(again, INVALID_HANDLE_VALUE) << "free again once the first handle is closed";
}

TEST_F(CommTest, TheSerialLibrarysSettingsReachTheTerminal) {
  Port port(open(u"COM3:"));
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  DCB dcb = lineSettings(port);
  ASSERT_TRUE(SetCommState(port, &dcb));
  termios tio = slaveTermios();
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(tio.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);

  DCB back{};
  back.DCBlength = sizeof(DCB);
  ASSERT_TRUE(GetCommState(port, &back));
  EXPECT_EQ(back.DCBlength, sizeof(DCB));
  EXPECT_EQ(back.BaudRate, CBR_9600);
  EXPECT_EQ(back.ByteSize, 8);
  EXPECT_EQ(back.Parity, NOPARITY);
  EXPECT_EQ(back.StopBits, ONESTOPBIT);
  // Bits 0, 1 and 7 set; DTR and RTS control 1; everything else clear.
  EXPECT_EQ(flagsWord(back), 0x1u | 0x2u | 0x80u | (1u << 4) | (1u << 12));
}

TEST_F(CommTest, OtherLineSettingsMapOntoTermiosAndBack) {
  Port port(open(u"COM3:"));
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  struct Case {
    DWORD baud;
    BYTE size, parity, stop;
    bool hardwareFlow, softwareFlow;
    speed_t speed;
    tcflag_t cflags;  // of CSIZE, PARENB, PARODD, CMSPAR, CSTOPB, CRTSCTS
  } cases[] = {
      {CBR_19200, 8, NOPARITY, TWOSTOPBITS, false, false, B19200, CS8 | CSTOPB},
      {CBR_115200, 8, NOPARITY, ONESTOPBIT, true, false, B115200, CS8 | CRTSCTS},
      {CBR_1200, 8, NOPARITY, ONESTOPBIT, false, true, B1200, CS8},
      {CBR_9600, 8, NOPARITY, ONESTOPBIT, false, false, B9600, CS8},
  };
  const tcflag_t watched = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
  for (const Case& c : cases) {
    DCB dcb = lineSettings(port);
    dcb.BaudRate = c.baud;
    dcb.ByteSize = c.size;
    dcb.Parity = c.parity;
    dcb.StopBits = c.stop;
    dcb.fOutxCtsFlow = c.hardwareFlow;
    dcb.fRtsControl = c.hardwareFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutX = dcb.fInX = c.softwareFlow;
    ASSERT_TRUE(SetCommState(port, &dcb)) << c.baud << " error " << GetLastError();
    termios tio = slaveTermios();
    EXPECT_EQ(cfgetospeed(&tio), c.speed) << c.baud;
    EXPECT_EQ(tio.c_cflag & watched, c.cflags) << c.baud;
    EXPECT_EQ((tio.c_iflag & (IXON | IXOFF)) != 0, c.softwareFlow) << c.baud;
    DCB back{};
    ASSERT_TRUE(GetCommState(port, &back));
    EXPECT_EQ(back.BaudRate, c.baud);
    EXPECT_EQ(back.ByteSize, c.size);
    EXPECT_EQ(back.Parity, c.parity);
    EXPECT_EQ(back.StopBits, c.stop);
    EXPECT_EQ(back.fOutxCtsFlow, c.hardwareFlow ? 1u : 0u);
    EXPECT_EQ(back.fOutX, c.softwareFlow ? 1u : 0u);
  }
}

TEST_F(CommTest, SettingsThisPlatformCannotCarryOutAreRefused) {
  Port port(open(u"COM3:"));
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  DCB good = lineSettings(port);
  ASSERT_TRUE(SetCommState(port, &good));
  struct Case {
    const char* what;
    void (*change)(DCB&);
    DWORD error;
  } cases[] = {
      {"baud 14400", [](DCB& d) { d.BaudRate = 14400; }, ERROR_INVALID_PARAMETER},
      {"baud 0", [](DCB& d) { d.BaudRate = 0; }, ERROR_INVALID_PARAMETER},
      {"9 data bits", [](DCB& d) { d.ByteSize = 9; }, ERROR_INVALID_PARAMETER},
      {"parity 5", [](DCB& d) { d.Parity = 5; }, ERROR_INVALID_PARAMETER},
      {"1.5 stop bits with 8 data bits", [](DCB& d) { d.StopBits = ONE5STOPBITS; }, ERROR_INVALID_PARAMETER},
      {"text mode", [](DCB& d) { d.fBinary = FALSE; }, ERROR_INVALID_PARAMETER},
      {"DSR flow", [](DCB& d) { d.fOutxDsrFlow = TRUE; }, ERROR_NOT_SUPPORTED},
      {"DTR handshake", [](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; }, ERROR_NOT_SUPPORTED},
      {"null stripping", [](DCB& d) { d.fNull = TRUE; }, ERROR_NOT_SUPPORTED},
      {"CTS flow without RTS handshake", [](DCB& d) { d.fOutxCtsFlow = TRUE; }, ERROR_NOT_SUPPORTED},
      // A pseudo-terminal always carries 8 bits without parity: the driver does not take these.
      {"7 data bits, even parity", [](DCB& d) { d.ByteSize = 7; d.Parity = EVENPARITY; }, ERROR_INVALID_PARAMETER},
      {"1.5 stop bits with 5 data bits", [](DCB& d) { d.ByteSize = 5; d.StopBits = ONE5STOPBITS; }, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    DCB dcb = good;
    c.change(dcb);
    SetLastError(0);
    EXPECT_FALSE(SetCommState(port, &dcb)) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }
  termios tio = slaveTermios();
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600)) << "a refused record changes nothing";
  EXPECT_FALSE(SetCommState(port, nullptr));
}

TEST_F(CommTest, ReadTimeoutsShapeReadFile) {
  VorkControl_SetClockScale(50);
  Port port(open(u"COM3:"));
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  DCB dcb = lineSettings(port);
  ASSERT_TRUE(SetCommState(port, &dcb));
  char buffer[64];
  DWORD got = 99;

  // Interval at its maximum with zero totals: at once, with what is there.
  COMMTIMEOUTS atOnce{MAXDWORD, 0, 0, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &atOnce));
  auto start = Clock::now();
  ASSERT_TRUE(ReadFile(port, buffer, sizeof(buffer), &got, nullptr));
  EXPECT_EQ(got, 0u);
  send("hello");
  awaitInput(port, 5);
  ASSERT_TRUE(ReadFile(port, buffer, sizeof(buffer), &got, nullptr));
  EXPECT_EQ(std::string(buffer, got), "hello");
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));

  // Totals bound the whole read: 10 s of device time pass in 200 ms here.
  COMMTIMEOUTS total{0, 0, 10000, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &total));
  send("abc");
  awaitInput(port, 3);
  start = Clock::now();
  ASSERT_TRUE(ReadFile(port, buffer, 10, &got, nullptr));
  auto took = Clock::now() - start;
  EXPECT_EQ(std::string(buffer, got), "abc");
  EXPECT_GE(took, std::chrono::milliseconds(150));
  EXPECT_LT(took, std::chrono::milliseconds(2000));

  // Interval and multiplier at their maximum: back as soon as one byte is there.
  COMMTIMEOUTS firstByte{MAXDWORD, MAXDWORD, 100000, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &firstByte));
  std::thread later([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    send("z");
  });
  start = Clock::now();
  ASSERT_TRUE(ReadFile(port, buffer, 10, &got, nullptr));
  later.join();
  EXPECT_EQ(std::string(buffer, got), "z");
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));

  // No timeouts: the read waits for every byte asked for.
  COMMTIMEOUTS none{0, 0, 0, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &none));
  std::thread parts([this] {
    send("12");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    send("34");
  });
  ASSERT_TRUE(ReadFile(port, buffer, 4, &got, nullptr));
  parts.join();
  EXPECT_EQ(std::string(buffer, got), "1234");

  COMMTIMEOUTS kept{};
  ASSERT_TRUE(GetCommTimeouts(port, &kept));
  EXPECT_EQ(kept.ReadIntervalTimeout, 0u);
}

TEST_F(CommTest, WritesReachThePeerAndAStuckPeerEndsTheWriteAtItsTimeout) {
  VorkControl_SetClockScale(50);
  Port port(open(u"\\\\.\\COM3"));
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  DCB dcb = lineSettings(port);
  ASSERT_TRUE(SetCommState(port, &dcb));
  ASSERT_TRUE(SetupComm(port, 6144, 6144));
  COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 5000};
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  OVERLAPPED overlapped{};
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(port, "\x00\xff\n\r", 4, &written, &overlapped));
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(receive(4), std::string("\x00\xff\n\r", 4)) << "raw: no translation of line ends";

  // Nobody reads the master: the terminal's queue fills and the write stops at its timeout
  // with what went out.
  std::vector<char> big(4 << 20, 'b');
  auto start = Clock::now();
  ASSERT_TRUE(WriteFile(port, big.data(), static_cast<DWORD>(big.size()), &written, nullptr));
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, big.size());
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3000));
}

TEST_F(CommTest, ClearCommErrorAnswersQueuesAndEachErrorOnce) {
  Port port(open(u"COM3:"));
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  DCB dcb = lineSettings(port);
  ASSERT_TRUE(SetCommState(port, &dcb));
  send("1234567");
  awaitInput(port, 7);
  DWORD errors = 99;
  COMSTAT status{};
  ASSERT_TRUE(ClearCommError(port, &errors, &status));
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(status.cbInQue, 7u);
  EXPECT_EQ(status.cbOutQue, 0u);

  EXPECT_EQ(VorkControl_RaiseCommError(3, CE_FRAME | CE_OVERRUN), 1);
  EXPECT_EQ(VorkControl_RaiseCommError(4, CE_BREAK), 0);
  ASSERT_TRUE(ClearCommError(port, &errors, nullptr));
  EXPECT_EQ(errors, static_cast<DWORD>(CE_FRAME | CE_OVERRUN));
  ASSERT_TRUE(ClearCommError(port, &errors, &status));
  EXPECT_EQ(errors, 0u) << "answered once, then cleared";
  EXPECT_EQ(status.cbInQue, 7u) << "clearing errors keeps the received bytes";
}

TEST_F(CommTest, AHungUpPortFailsCallsWithoutCrashing) {
  Port port(open(u"COM3:"));
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  DCB dcb = lineSettings(port);
  ASSERT_TRUE(SetCommState(port, &dcb));
  COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 2, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  close(master_);
  master_ = -1;
  char buffer[8];
  DWORD done = 99;
  SetLastError(0);
  EXPECT_FALSE(ReadFile(port, buffer, sizeof(buffer), &done, nullptr));
  EXPECT_EQ(done, 0u);
  EXPECT_NE(GetLastError(), 0u);
  SetLastError(0);
  EXPECT_FALSE(WriteFile(port, "x", 1, &done, nullptr));
  EXPECT_NE(GetLastError(), 0u);
}

TEST_F(CommTest, HandlesOfOtherKindsAndAccessAreChecked) {
  DCB dcb{};
  COMMTIMEOUTS timeouts{};
  DWORD errors = 0;
  HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7777));
  SetLastError(0);
  EXPECT_FALSE(GetCommState(bogus, &dcb));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  std::u16string path = u"\\plain";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  SetLastError(0);
  EXPECT_FALSE(SetCommTimeouts(file, &timeouts));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(ClearCommError(file, &errors, nullptr));
  EXPECT_FALSE(SetupComm(file, 10, 10));
  CloseHandle(file);

  Port readOnly(open(u"COM3:", GENERIC_READ));
  ASSERT_NE(readOnly, INVALID_HANDLE_VALUE);
  DWORD written = 99;
  SetLastError(0);
  EXPECT_FALSE(WriteFile(readOnly, "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(written, 0u);
}

}  // namespace
