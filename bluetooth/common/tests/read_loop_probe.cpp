// A scripted connection for testing the shared read loop in a JVM: class
// de.brelna.bluetooth.stack.ReadLoopProbe. Each pass takes the next script entry: n > 0 gives n
// bytes (a running count), 0 an empty pass, -1 the end of the connection, -2 a failed pass that
// throws a BlueZException; past the script the connection has ended.
#include <jni.h>

#include <vector>

#include "bluez/common.h"
#include "bluez/read_loop.h"

namespace {

struct Scripted {
  std::vector<jint> script;
  size_t next = 0;
  uint8_t counter = 0;
};

int pass(void* connection, JNIEnv* env, uint8_t* buffer, int size) {
  auto* c = static_cast<Scripted*>(connection);
  if (c->next >= c->script.size()) return -1;
  jint step = c->script[c->next++];
  if (step == -2) {
    bluez::throwBlueZ(env, "Error aquiring lock (readBytes)");
    return -1;
  }
  if (step <= 0) return step;
  int count = step < size ? step : size;
  for (int i = 0; i < count; ++i) buffer[i] = c->counter++;
  return count;
}

}  // namespace

extern "C" JNIEXPORT void JNICALL Java_de_brelna_bluetooth_stack_ReadLoopProbe_run(JNIEnv* env, jclass, jlong handle,
                                                                                 jint bufferSize, jintArray script,
                                                                                 jboolean emptyPassEnds) {
  Scripted connection;
  jsize length = env->GetArrayLength(script);
  connection.script.resize(length);
  env->GetIntArrayRegion(script, 0, length, connection.script.data());
  bluez::ReadLoop loop{pass, emptyPassEnds == JNI_TRUE};
  bluez::runReadLoop(env, handle, bufferSize, loop, &connection);
}
