// Natives whose answers are the same on every back end.
#include <jni.h>

#include "bluez/common.h"

extern "C" {

JNIEXPORT jint JNICALL Java_de_brelna_bluetooth_stack_BlueZ_hciDeviceID(JNIEnv*, jclass, jint) { return 0; }

JNIEXPORT jint JNICALL Java_de_brelna_bluetooth_stack_BlueZ_getLinkQuality(JNIEnv*, jclass, jint) { return 257; }

JNIEXPORT jint JNICALL Java_de_brelna_bluetooth_stack_BlueZ_getMaxConnectedDevices(JNIEnv*, jclass) { return 7; }

JNIEXPORT jboolean JNICALL Java_de_brelna_bluetooth_stack_BlueZ_isMasterSwitchAllowed(JNIEnv*, jclass) { return JNI_TRUE; }
JNIEXPORT jboolean JNICALL Java_de_brelna_bluetooth_stack_BlueZ_inquiryScanAndConAllowed(JNIEnv*, jclass) { return JNI_TRUE; }
JNIEXPORT jboolean JNICALL Java_de_brelna_bluetooth_stack_BlueZ_inquiryAndConAllowed(JNIEnv*, jclass) { return JNI_TRUE; }
JNIEXPORT jboolean JNICALL Java_de_brelna_bluetooth_stack_BlueZ_pageScanAndConAllowed(JNIEnv*, jclass) { return JNI_TRUE; }
JNIEXPORT jboolean JNICALL Java_de_brelna_bluetooth_stack_BlueZ_pageAndConnAllowed(JNIEnv*, jclass) { return JNI_TRUE; }

JNIEXPORT jint JNICALL Java_de_brelna_bluetooth_stack_BlueZ_encrypt(JNIEnv* env, jclass, jint, jint, jint, jint) {
  bluez::throwBlueZ(env, "Encryption of an existing connection is not supported by Widcomm");
  return -1;
}
}
