// Communications services of the device (serial ports).
//
// A COM port is opened with CreateFileW under the name "COMn:" (handheld form) or "\\.\COMn"
// (desktop form) and driven with the calls below, ReadFile, WriteFile and CloseHandle.
#pragma once

// Included at the end of <windows.h>, which provides the base types.

#ifndef FILE_FLAG_NO_BUFFERING
#define FILE_FLAG_NO_BUFFERING 0x20000000u
#endif
#ifndef MAXDWORD
#define MAXDWORD 0xFFFFFFFFu
#endif

// The overlapped record of ReadFile and WriteFile. Handles here are synchronous: a call with
// an all-zero record (or none) completes before it returns.
struct OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
};

// ---- Line settings ------------------------------------------------------------------------

#define CBR_110 110u
#define CBR_300 300u
#define CBR_600 600u
#define CBR_1200 1200u
#define CBR_2400 2400u
#define CBR_4800 4800u
#define CBR_9600 9600u
#define CBR_19200 19200u
#define CBR_38400 38400u
#define CBR_57600 57600u
#define CBR_115200 115200u

#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define MARKPARITY 3
#define SPACEPARITY 4

#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2

#define DTR_CONTROL_DISABLE 0x0u
#define DTR_CONTROL_ENABLE 0x1u
#define DTR_CONTROL_HANDSHAKE 0x2u

#define RTS_CONTROL_DISABLE 0x0u
#define RTS_CONTROL_ENABLE 0x1u
#define RTS_CONTROL_HANDSHAKE 0x2u
#define RTS_CONTROL_TOGGLE 0x3u

// The device-control record. The one-bit and two-bit fields after BaudRate share one 32-bit
// flags word, lowest bit first: fBinary is bit 0, fDtrControl bits 4 and 5, fRtsControl bits
// 12 and 13, fAbortOnError bit 14.
struct DCB {
  DWORD DCBlength;
  DWORD BaudRate;
  DWORD fBinary : 1;
  DWORD fParity : 1;
  DWORD fOutxCtsFlow : 1;
  DWORD fOutxDsrFlow : 1;
  DWORD fDtrControl : 2;
  DWORD fDsrSensitivity : 1;
  DWORD fTXContinueOnXoff : 1;
  DWORD fOutX : 1;
  DWORD fInX : 1;
  DWORD fErrorChar : 1;
  DWORD fNull : 1;
  DWORD fRtsControl : 2;
  DWORD fAbortOnError : 1;
  DWORD fDummy2 : 17;
  WORD wReserved;
  WORD XonLim;
  WORD XoffLim;
  BYTE ByteSize;
  BYTE Parity;
  BYTE StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  WORD wReserved1;
};
typedef DCB* LPDCB;

BOOL GetCommState(HANDLE file, LPDCB dcb);
BOOL SetCommState(HANDLE file, LPDCB dcb);

// ---- Driver queues and timeouts -------------------------------------------------------------

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue);

// ReadIntervalTimeout MAXDWORD with both read totals 0: a read returns at once with what is
// there. MAXDWORD with the multiplier MAXDWORD and a constant between 0 and MAXDWORD: a read
// returns as soon as one byte is there, or empty after the constant. Otherwise the totals
// bound the whole read (multiplier per byte asked plus constant, 0 and 0 for no bound) and a
// non-zero interval bounds the gap between two bytes once the first has come.
struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
};
typedef COMMTIMEOUTS* LPCOMMTIMEOUTS;

BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);
BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);

// ---- Errors and status -------------------------------------------------------------------------

#define CE_RXOVER 0x0001u
#define CE_OVERRUN 0x0002u
#define CE_RXPARITY 0x0004u
#define CE_FRAME 0x0008u
#define CE_BREAK 0x0010u
#define CE_TXFULL 0x0100u

struct COMSTAT {
  DWORD fCtsHold : 1;
  DWORD fDsrHold : 1;
  DWORD fRlsdHold : 1;
  DWORD fXoffHold : 1;
  DWORD fXoffSent : 1;
  DWORD fEof : 1;
  DWORD fTxim : 1;
  DWORD fReserved : 25;
  DWORD cbInQue;
  DWORD cbOutQue;
};
typedef COMSTAT* LPCOMSTAT;

// Answers and clears the error flags that came up since the last call, and the number of
// bytes waiting in the input and output queues.
BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT status);
