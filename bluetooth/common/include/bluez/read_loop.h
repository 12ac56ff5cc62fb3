// The reading model both back ends share: readBytes hands a connection's data to Java in
// chunks through BlueZ.newData on the reader thread, and ends with exactly one
// BlueZ.connectionClosed, whatever ended it.
#pragma once

#include <jni.h>

#include <cstdint>

namespace bluez {

// One pass over the connection: copies up to `size` received bytes into `buffer` and answers
// their number; 0 when nothing arrived in this pass; negative when the connection is closed,
// failed, or the pass could not be made (the pass may have thrown a BlueZException then).
typedef int (*ReadPass)(void* connection, JNIEnv* env, uint8_t* buffer, int size);

struct ReadLoop {
  ReadPass pass;
  // True where an empty pass means the connection ended (a socket receive of 0); otherwise the
  // next pass waits again.
  bool emptyPassEnds;
};

// Runs the loop until the connection ends, newData answers anything but 1, or Java fails.
// BlueZ is looked up by name through the VM. A Java exception raised on the way stays pending
// for the caller, after connectionClosed was called.
void runReadLoop(JNIEnv* env, jlong handle, jint bufferSize, const ReadLoop& loop, void* connection);

}  // namespace bluez
