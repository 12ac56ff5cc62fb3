// The plain export that opens the local device without Java (its argument is not used).
#include <jni.h>

#include <mutex>

#include "btce.h"

extern "C" JNIEXPORT void open(int) {
  std::lock_guard<std::mutex> guard(btce::state().openLock);
  btce::openStack();
}
