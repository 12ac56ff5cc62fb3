// Services of the core library that the other substitute libraries build on (window system,
// Bluetooth stacks, VM). Not part of the device's API.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "../windows.h"

namespace vork {

// ---- Handles ---------------------------------------------------------------------------
// A kernel object behind a HANDLE. Kinds register their operations once.
struct KernelObject;
struct ObjectOps {
  const char* kind;
  // Releases the object when its last handle is closed.
  void (*destroy)(KernelObject* object);
  // True when a wait on the object is satisfied now (called under waitLock()).
  // `consume` asks the object to take the signal (auto-reset event, mutex ownership).
  bool (*signaled)(KernelObject* object, bool consume);
  // ReadFile and WriteFile on the object (null where the kind has none). They set the last
  // error themselves when they fail.
  BOOL (*read)(KernelObject* object, void* buffer, DWORD size, DWORD* done);
  BOOL (*write)(KernelObject* object, const void* buffer, DWORD size, DWORD* done);
};
struct KernelObject {
  const ObjectOps* ops;
  void* data;
};

HANDLE newHandle(const ObjectOps* ops, void* data);
// The object behind a handle of the given kind, or null (error 6 set) when there is none.
KernelObject* objectOf(HANDLE handle, const ObjectOps* ops);

// ---- Devices ---------------------------------------------------------------------------
// CreateFileW hands names that begin with a registered prefix (such as "COM") to the
// device's open function, which answers a handle or INVALID_HANDLE_VALUE with the error set.
typedef HANDLE (*DeviceOpen)(const char16_t* name, DWORD desiredAccess, DWORD creationDisposition);
void registerDevice(const char16_t* prefix, DeviceOpen open);

// ---- System parameters ---------------------------------------------------------------------
// SystemParametersInfoW hands actions that other substitute libraries own (the window
// system's work area, for instance) to the handler registered for them.
typedef BOOL (*SystemParameterHandler)(UINT action, UINT param, LPVOID data, UINT winIni);
void registerSystemParameter(UINT action, SystemParameterHandler handler);

// ---- Command lines ---------------------------------------------------------------------------
// Splits a command line by the device's documented rules for command-line arguments. With
// `programFirst` the first token follows the program-name rule (quotes delimit it, backslashes
// are plain characters).
std::vector<std::u16string> splitCommandLine(const std::u16string& commandLine, bool programFirst);

// ---- Waiting ---------------------------------------------------------------------------
// All waitable state changes happen under one lock and wake every waiter.
std::unique_lock<std::mutex> waitLock();
void wakeWaiters();
// Waits under the lock until `ready` answers true or the timeout (device milliseconds)
// passes. Returns false on timeout.
bool waitUntil(std::unique_lock<std::mutex>& lock, DWORD milliseconds,
               bool (*ready)(void* context), void* context);

// Whether every handle names a waitable object (error 6 set when one does not).
bool waitableHandles(DWORD count, const HANDLE* handles);
// Under waitLock(): whether the objects satisfy a wait now, all of them or any one. A satisfied
// wait takes the signals (auto-reset events, mutex ownership); `result` is WAIT_OBJECT_0, or
// WAIT_OBJECT_0 + the index of the first signalled object for a wait on any.
bool objectsSignaled(DWORD count, const HANDLE* handles, bool waitAll, DWORD& result);

// ---- Clock ----------------------------------------------------------------------------------
// Device milliseconds run `clockScale()` times faster than host milliseconds.
unsigned clockScale();
std::chrono::nanoseconds hostDuration(DWORD deviceMilliseconds);

// ---- Errors ---------------------------------------------------------------------------------
// The device's error number for a host errno.
DWORD errorFromErrno(int error);

}  // namespace vork
