// The far end of a pseudo-terminal for the JUnit tests: the test holds the master side and
// links the slave as a COM port of the simulated device.
#include <fcntl.h>
#include <jni.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "vork/control.h"

namespace {

std::string utf8(JNIEnv* env, jstring text) {
  const char* chars = env->GetStringUTFChars(text, nullptr);
  std::string out = chars ? chars : "";
  if (chars) env->ReleaseStringUTFChars(text, chars);
  return out;
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_q7vk_rxtx_tests_PtyPeer_useDeviceRoot(JNIEnv* env, jclass, jstring path) {
  VorkControl_SetDeviceRoot(utf8(env, path).c_str());
}

JNIEXPORT jint JNICALL Java_com_q7vk_rxtx_tests_PtyPeer_openMaster(JNIEnv*, jclass) {
  int fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (grantpt(fd) != 0 || unlockpt(fd) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

JNIEXPORT jstring JNICALL Java_com_q7vk_rxtx_tests_PtyPeer_slaveName(JNIEnv* env, jclass, jint fd) {
  char name[128];
  if (ptsname_r(fd, name, sizeof(name)) != 0) return nullptr;
  return env->NewStringUTF(name);
}

// Writes all of `data` (blocking while the slave's queue is full); answers the count written.
JNIEXPORT jint JNICALL Java_com_q7vk_rxtx_tests_PtyPeer_send(JNIEnv* env, jclass, jint fd, jbyteArray data) {
  jsize length = env->GetArrayLength(data);
  std::vector<jbyte> bytes(static_cast<size_t>(length));
  env->GetByteArrayRegion(data, 0, length, bytes.data());
  jsize sent = 0;
  while (sent < length) {
    ssize_t n = write(fd, bytes.data() + sent, static_cast<size_t>(length - sent));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    sent += static_cast<jsize>(n);
  }
  return sent;
}

// Up to `count` bytes that arrive within `timeoutMs`.
JNIEXPORT jbyteArray JNICALL Java_com_q7vk_rxtx_tests_PtyPeer_receive(JNIEnv* env, jclass, jint fd, jint count,
                                                                       jint timeoutMs) {
  std::vector<jbyte> bytes(static_cast<size_t>(count));
  size_t got = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (got < bytes.size()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0 || !(p.revents & POLLIN)) continue;
    ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
    if (n > 0) got += static_cast<size_t>(n);
    else if (n < 0 && errno != EINTR && errno != EAGAIN) break;
  }
  jbyteArray out = env->NewByteArray(static_cast<jsize>(got));
  env->SetByteArrayRegion(out, 0, static_cast<jsize>(got), bytes.data());
  return out;
}

// True when no one holds the slave side open any more.
JNIEXPORT jboolean JNICALL Java_com_q7vk_rxtx_tests_PtyPeer_slaveClosed(JNIEnv*, jclass, jint fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & POLLHUP) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_com_q7vk_rxtx_tests_PtyPeer_closeMaster(JNIEnv*, jclass, jint fd) { close(fd); }

JNIEXPORT jint JNICALL Java_com_q7vk_rxtx_tests_PtyPeer_raiseCommError(JNIEnv*, jclass, jint number,
                                                                       jint errors) {
  return VorkControl_RaiseCommError(static_cast<unsigned>(number), static_cast<uint32_t>(errors));
}

}  // extern "C"
