#include "bluez/read_loop.h"

#include <memory>
#include <new>

namespace bluez {

void runReadLoop(JNIEnv* env, jlong handle, jint bufferSize, const ReadLoop& loop, void* connection) {
  jclass bluez = env->FindClass("de/brelna/bluetooth/stack/BlueZ");
  jmethodID newData = bluez ? env->GetStaticMethodID(bluez, "newData", "([BJ)I") : nullptr;
  jmethodID connectionClosed = bluez ? env->GetStaticMethodID(bluez, "connectionClosed", "(J)V") : nullptr;
  if (!newData || !connectionClosed) {
    // Nothing to deliver to, and no way to say that the connection ended: the lookup's error
    // stays pending for the caller.
    if (bluez) env->DeleteLocalRef(bluez);
    return;
  }
  std::unique_ptr<uint8_t[]> buffer(bufferSize > 0 ? new (std::nothrow) uint8_t[bufferSize] : nullptr);
  while (buffer && !env->ExceptionCheck()) {
    int received = loop.pass(connection, env, buffer.get(), bufferSize);
    if (received < 0 || env->ExceptionCheck()) break;
    if (received == 0) {
      if (loop.emptyPassEnds) break;
      continue;
    }
    if (received > bufferSize) received = bufferSize;
    jbyteArray chunk = env->NewByteArray(received);
    if (!chunk) break;
    env->SetByteArrayRegion(chunk, 0, received, reinterpret_cast<const jbyte*>(buffer.get()));
    jint result = env->CallStaticIntMethod(bluez, newData, chunk, handle);
    env->DeleteLocalRef(chunk);
    if (env->ExceptionCheck() || result != 1) break;
  }
  buffer.reset();
  // Java may not be called with an exception pending: keep it aside and raise it again after.
  jthrowable pending = env->ExceptionOccurred();
  if (pending) env->ExceptionClear();
  env->CallStaticVoidMethod(bluez, connectionClosed, handle);
  if (pending) {
    if (!env->ExceptionCheck()) env->Throw(pending);
    env->DeleteLocalRef(pending);
  }
  env->DeleteLocalRef(bluez);
}

}  // namespace bluez
