// The natives of com.q7vk.rxtx.internal.Native. The int argument of close, read,
// isDataAvailable and both writes names the port; there is only one, so it is ignored.
#include <jni.h>

#include "serial_port.h"

extern "C" {

JNIEXPORT jint JNICALL Java_com_q7vk_rxtx_internal_Native_getPortType(JNIEnv*, jclass) { return 0; }

JNIEXPORT jint JNICALL Java_com_q7vk_rxtx_internal_Native_getVersionID(JNIEnv*, jclass) { return 4; }

JNIEXPORT jstring JNICALL Java_com_q7vk_rxtx_internal_Native_getName(JNIEnv* env, jclass) {
  return env->NewStringUTF("hallo");
}

JNIEXPORT jint JNICALL Java_com_q7vk_rxtx_internal_Native_open(JNIEnv*, jclass, jint port) {
  return serial::openPort(port);
}

JNIEXPORT jint JNICALL Java_com_q7vk_rxtx_internal_Native_close(JNIEnv*, jclass, jint) {
  serial::closePort();
  return 0;
}

JNIEXPORT jint JNICALL Java_com_q7vk_rxtx_internal_Native_write__II(JNIEnv*, jclass, jint, jint value) {
  BYTE byte = static_cast<BYTE>(value & 0xFF);
  return serial::sendBytes(&byte, 1);
}

JNIEXPORT jint JNICALL Java_com_q7vk_rxtx_internal_Native_write__I_3B(JNIEnv* env, jclass, jint,
                                                                      jbyteArray data) {
  if (!data) return 0;  // no array, nothing to send
  jsize length = env->GetArrayLength(data);
  jbyte* elements = env->GetByteArrayElements(data, nullptr);
  if (!elements) return 0;  // out of memory: the VM has an exception pending
  int result = serial::sendBytes(reinterpret_cast<const BYTE*>(elements), length);
  env->ReleaseByteArrayElements(data, elements, JNI_ABORT);
  return result;
}

JNIEXPORT jboolean JNICALL Java_com_q7vk_rxtx_internal_Native_isDataAvailable(JNIEnv*, jclass, jint) {
  return serial::isDataAvailable() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jint JNICALL Java_com_q7vk_rxtx_internal_Native_read(JNIEnv*, jclass, jint) {
  return serial::readByte();
}

}  // extern "C"
