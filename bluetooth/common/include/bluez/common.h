// What the BlueZ back ends share: class lookup through the Java class resolver, failures
// reported as BlueZException, Bluetooth address texts and the stack-opened rule.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>

namespace bluez {

// The process-wide part every back end keeps: the VM and the class resolver that
// hciOpenDevice handed over (a global reference, never released).
struct Shared {
  JavaVM* vm = nullptr;
  jobject classResolver = nullptr;
};
Shared& shared();

// Keeps the VM and a global reference to the resolver (only the first call does anything).
void keepResolver(JNIEnv* env, jobject classResolver);

// Finds a class by its slash-separated name through the resolver's createClass. Answers a
// local reference or null. Before a resolver was handed over the VM's own lookup is used.
jclass resolveClass(JNIEnv* env, const char* name);

// Throws a BlueZException with the message. When the VM cannot throw it, two lines go to the
// standard output and the caller carries on as if it had been thrown.
void throwBlueZ(JNIEnv* env, const char* message);

// The stack-opened rule: false (and "Stack not initialized (<method>)" thrown) when the stack
// is not open.
bool requireOpen(JNIEnv* env, bool open, const char* method);

// Describes and clears a pending Java exception; answers whether there was one.
bool describeAndClear(JNIEnv* env);

// A Java string from device text (a name as the stack reports it, NUL-terminated within `max`
// bytes): UTF-8 where the bytes are valid UTF-8, each other byte taken as Latin-1.
jstring newStringFromDeviceText(JNIEnv* env, const char* bytes, size_t max);

// ---- Address texts ---------------------------------------------------------------------------
// "%02X:%02X:%02X:%02X:%02X:%02X", most significant byte first.
void formatAddress(const uint8_t address[6], char text[18]);
// "%02X%02X%02X%02X%02X%02X" (incoming connections on the handheld).
void formatAddressPlain(const uint8_t address[6], char text[13]);
// Reads the pairs at character positions 0, 3, 6, 9, 12 and 15, each a hexadecimal number that
// ends at the next character that is no hexadecimal digit (so any separator is accepted).
// False for a text that is too short or has no digit at one of the positions.
bool parseAddress(const char* text, uint8_t address[6]);
bool parseAddress(JNIEnv* env, jstring text, uint8_t address[6]);

}  // namespace bluez
