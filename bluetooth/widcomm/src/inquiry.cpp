// Inquiry: the loop that delivers devices to Java while the stack finds them, cancelling, and
// remote names from the results.
#include <cstring>

#include "bluez/common.h"
#include "btce.h"

namespace btce {

namespace {

constexpr int kWaits = 60;
constexpr DWORD kWaitMs = 1000;

// Delivers one table entry through deviceDiscovered.
void deliver(JNIEnv* env, const DeviceEntry& entry, jclass bluez, jmethodID deviceDiscovered, jclass remoteDevice,
             jmethodID init) {
  char text[18];
  bluez::formatAddress(entry.address, text);
  jstring address = env->NewStringUTF(text);
  jstring name = bluez::newStringFromDeviceText(env, entry.name, sizeof entry.name);
  jint deviceClass = static_cast<jint>(0xFF000000u + entry.deviceClass[0] * 65536u + entry.deviceClass[1] * 256u +
                                       entry.deviceClass[2]);
  jobject device = address && name ? env->NewObject(remoteDevice, init, address, jbyte(0), jbyte(0), jbyte(0),
                                                    jshort(0), deviceClass, name)
                                   : nullptr;
  if (device) env->CallStaticVoidMethod(bluez, deviceDiscovered, device);
  if (device) env->DeleteLocalRef(device);
  if (name) env->DeleteLocalRef(name);
  if (address) env->DeleteLocalRef(address);
}

}  // namespace

void cancelInquiry(StackAdapter& adapter) {
  adapter.StopInquiry();
  // The thread that runs the inquiry owns the event and closes it when it wakes.
  adapter.signalInquiry();
  adapter.resultCount = -1;
  adapter.inquiryIdle = 1;
}

int findDevice(const UINT8 address[6]) {
  State& s = state();
  auto current = adapter();
  int count = current ? current->resultCount.load() : 0;
  for (int i = 0; i < count && i < kDeviceTableSize; ++i)
    if (std::memcmp(s.deviceTable[i].address, address, 6) == 0) return i;
  return -1;
}

int runInquiry(JNIEnv* env, StackAdapter& adapter) {
  State& s = state();
  HANDLE event;
  {
    std::lock_guard<std::mutex> guard(adapter.eventLock);
    if (adapter.inquiryEvent || !adapter.inquiryIdle) return -3;
    adapter.inquiryIdle = 0;
    adapter.resultCount = 0;
    event = adapter.inquiryEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  auto forgetEvent = [&adapter, event] {
    {
      std::lock_guard<std::mutex> guard(adapter.eventLock);
      if (adapter.inquiryEvent == event) adapter.inquiryEvent = nullptr;
    }
    CloseHandle(event);
  };
  int reported = 0;
  if (!adapter.StartInquiry()) {
    cancelInquiry(adapter);
    forgetEvent();
    return -1;
  }
  jclass bluez = bluez::resolveClass(env, "de/brelna/bluetooth/stack/BlueZ");
  jmethodID deviceDiscovered =
      bluez ? env->GetStaticMethodID(bluez, "deviceDiscovered", "(Ljavax/bluetooth/RemoteDevice;)V") : nullptr;
  bluez::describeAndClear(env);
  jclass remoteDevice = bluez::resolveClass(env, "javax/bluetooth/RemoteDevice");
  jmethodID init =
      remoteDevice ? env->GetMethodID(remoteDevice, "<init>", "(Ljava/lang/String;BBBSILjava/lang/String;)V") : nullptr;
  if (bluez::describeAndClear(env) || !deviceDiscovered || !init) cancelInquiry(adapter);  // nowhere to deliver to

  for (int wait = 0; wait < kWaits; ++wait) {
    WaitForSingleObject(event, kWaitMs);
    ResetEvent(event);
    while (deviceDiscovered && init && reported < adapter.resultCount.load() && reported < kDeviceTableSize) {
      deliver(env, s.deviceTable[reported++], bluez, deviceDiscovered, remoteDevice, init);
      if (bluez::describeAndClear(env)) cancelInquiry(adapter);
    }
    if (adapter.inquiryIdle) break;
  }

  if (bluez) env->DeleteLocalRef(bluez);
  if (remoteDevice) env->DeleteLocalRef(remoteDevice);
  forgetEvent();
  if (!adapter.inquiryIdle) {
    adapter.StopInquiry();
    adapter.resultCount = -2;
  }
  adapter.inquiryIdle = 1;
  return adapter.resultCount;
}

}  // namespace btce

using namespace btce;

extern "C" {

JNIEXPORT jboolean JNICALL Java_de_brelna_bluetooth_stack_BlueZ_hciInquiry(JNIEnv* env, jclass, jint, jint, jint,
                                                                          jlong, jint) {
  if (!bluez::requireOpen(env, state().javaReady, "hciInquiry")) return JNI_FALSE;
  auto current = adapter();
  if (!current->inquiryIdle) {
    bluez::throwBlueZ(env, "Inquiry already in Progress");
    return JNI_FALSE;
  }
  int result = runInquiry(env, *current);
  if (result >= 0) return JNI_TRUE;
  bluez::throwBlueZ(env, result == -2 ? "Inquiry timed out." : "Inquiry failed.");
  return JNI_FALSE;
}

JNIEXPORT void JNICALL Java_de_brelna_bluetooth_stack_BlueZ_cancelInquiry(JNIEnv*, jclass) {
  if (auto current = adapter()) cancelInquiry(*current);
}

JNIEXPORT jstring JNICALL Java_de_brelna_bluetooth_stack_BlueZ_hciRemoteName(JNIEnv* env, jclass, jint,
                                                                            jstring addressText, jint) {
  if (!bluez::requireOpen(env, state().javaReady, "hciRemoteName")) return nullptr;
  BD_ADDR address;
  if (!bluez::parseAddress(env, addressText, address)) return nullptr;
  int index = findDevice(address);
  if (index < 0) {
    auto current = adapter();
    if (runInquiry(env, *current) > 0) index = findDevice(address);
  }
  if (index < 0) return nullptr;
  const DeviceEntry& entry = state().deviceTable[index];
  return bluez::newStringFromDeviceText(env, entry.name, sizeof entry.name);
}

}  // extern "C"
