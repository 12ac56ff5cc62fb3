// Opening the stack, the local device, link signal strength and the stack's notifications.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bluez/common.h"
#include "btce.h"

namespace btce {

State& state() {
  static State instance;
  return instance;
}

std::shared_ptr<StackAdapter> adapter() { return std::atomic_load(&state().adapter); }

void replaceAdapter(std::shared_ptr<StackAdapter> fresh) { std::atomic_store(&state().adapter, std::move(fresh)); }

// ---- The adapter -----------------------------------------------------------------------------

StackAdapter::StackAdapter(JavaVM* javaVm, jobject resolver) : vm(javaVm), classResolver(resolver) {}

StackAdapter::~StackAdapter() {
  // From here on the notifications do nothing, and none runs once the stack stopped them.
  retiring = true;
  StopNotifications();
}

void StackAdapter::signalInquiry() {
  std::lock_guard<std::mutex> guard(eventLock);
  if (inquiryEvent) SetEvent(inquiryEvent);
}

void StackAdapter::signalDiscovery() {
  std::lock_guard<std::mutex> guard(eventLock);
  if (discoveryEvent) SetEvent(discoveryEvent);
}

void StackAdapter::OnDeviceResponded(BD_ADDR address, DEV_CLASS deviceClass, BD_NAME name, BOOL) {
  if (retiring) return;
  {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.tableLock);
    int count = resultCount.load();
    // Only while an inquiry collects results, and only as many as the table holds.
    if (count >= 0 && count < kDeviceTableSize) {
      bool known = false;
      for (int i = 0; i < count && !known; ++i) known = std::memcmp(s.deviceTable[i].address, address, 6) == 0;
      if (!known) {
        DeviceEntry& entry = s.deviceTable[count];
        std::memcpy(entry.address, address, 6);
        std::memcpy(entry.name, name, sizeof entry.name - 1);
        entry.name[sizeof entry.name - 1] = 0;
        std::memcpy(entry.deviceClass, deviceClass, 3);
        resultCount.store(count + 1);
      }
    }
  }
  signalInquiry();
}

void StackAdapter::OnInquiryComplete(BOOL, short) {
  if (retiring) return;
  inquiryIdle = 1;
  signalInquiry();
}

void StackAdapter::OnDiscoveryComplete() {
  if (retiring) return;
  discoveryIdle = 1;
  signalDiscovery();
}

void StackAdapter::OnStackStatusChange(STACK_STATUS newStatus) {
  if (retiring) return;
  static const char* const words[] = {"down\n", "up\n", "error\n", "unloaded\n", "reloaded\n"};
  std::fputs("Stack status changed! ", stdout);
  std::fputs(newStatus >= 0 && newStatus <= 4 ? words[newStatus] : "Unknown new state\n", stdout);
  std::fflush(stdout);
  if (newStatus == DEVST_UP) {
    inquiryIdle = 1;
    discoveryIdle = 1;
    // The waiting callers keep their own copies of the events and close them.
    std::lock_guard<std::mutex> guard(eventLock);
    inquiryEvent = nullptr;
    discoveryEvent = nullptr;
    return;
  }
  if (newStatus != DEVST_DOWN && newStatus != DEVST_ERROR && newStatus != DEVST_UNLOADED) return;
  bool inquiring, discovering;
  {
    std::lock_guard<std::mutex> guard(eventLock);
    inquiring = inquiryEvent != nullptr;
    discovering = discoveryEvent != nullptr;
  }
  if (inquiring) cancelInquiry(*this);
  if (discovering) {
    discoveryIdle = 1;
    signalDiscovery();
  }
  if (!vm) return;
  JNIEnv* env = nullptr;
  if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_2) != JNI_OK) {
    // A daemon thread, so that the stack's thread never keeps the VM from ending.
    if (vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) return;
  }
  jclass bluez = bluez::resolveClass(env, "de/brelna/bluetooth/stack/BlueZ");
  jmethodID stackDown = bluez ? env->GetStaticMethodID(bluez, "stackDown", "()V") : nullptr;
  if (stackDown) env->CallStaticVoidMethod(bluez, stackDown);
  // No Java caller waits on this thread: show what went wrong and go on.
  bluez::describeAndClear(env);
  if (bluez) env->DeleteLocalRef(bluez);
}

// ---- Opening ---------------------------------------------------------------------------------

void openStack() {
  State& s = state();
  if (s.open) return;
  auto fresh = std::make_shared<StackAdapter>(bluez::shared().vm, bluez::shared().classResolver);
  WCHAR version[255];
  fresh->GetBTWCEVersionInfo(version, 255);
  fresh->GetLocalDeviceInfo();
  BD_NAME name;
  fresh->GetLocalDeviceName(&name);
  bluez::formatAddress(fresh->m_BdAddr, s.localAddressText);
  fresh->StartInquiry();
  fresh->StopInquiry();
  replaceAdapter(std::move(fresh));
  s.open = true;
}

}  // namespace btce

using namespace btce;

extern "C" {

JNIEXPORT jint JNICALL Java_de_brelna_bluetooth_stack_BlueZ_hciOpenDevice(JNIEnv* env, jclass, jint,
                                                                          jobject classResolver, jboolean) {
  State& s = state();
  if (s.javaReady) return 1;
  std::lock_guard<std::mutex> guard(s.openLock);
  if (s.javaReady) return 1;
  bluez::keepResolver(env, classResolver);
  openStack();
  // The plain open export may have opened the stack without a VM: hand it over now.
  auto current = adapter();
  if (current && !current->vm) {
    current->vm = bluez::shared().vm;
    current->classResolver = bluez::shared().classResolver;
  }
  s.searchLock = CreateMutexW(nullptr, FALSE, nullptr);
  s.connectionLock = CreateMutexW(nullptr, FALSE, nullptr);
  if (s.guidSeed == 0) {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    unsigned seconds = static_cast<unsigned>((ms / 1000) % 60);
    unsigned millis = static_cast<unsigned>(ms % 1000);
    std::srand(millis + 1000 * seconds);
    s.guidSeed = static_cast<unsigned>(std::rand());
  }
  s.javaReady = true;
  return 1;
}

JNIEXPORT jobject JNICALL Java_de_brelna_bluetooth_stack_BlueZ_hciDevBTAddress(JNIEnv* env, jclass, jint) {
  auto current = adapter();
  if (!bluez::requireOpen(env, current != nullptr, "hciDevBTAddress")) return nullptr;
  char text[18];
  bluez::formatAddress(current->m_BdAddr, text);
  jclass type = bluez::resolveClass(env, "de/brelna/bluetooth/util/BTAddress");
  jmethodID init = type ? env->GetMethodID(type, "<init>", "(Ljava/lang/String;)V") : nullptr;
  jstring string = init ? env->NewStringUTF(text) : nullptr;
  jobject address = string ? env->NewObject(type, init, string) : nullptr;
  if (string) env->DeleteLocalRef(string);
  if (type) env->DeleteLocalRef(type);
  return address;
}

JNIEXPORT jstring JNICALL Java_de_brelna_bluetooth_stack_BlueZ_hciLocalName(JNIEnv* env, jclass, jint, jint) {
  auto current = adapter();
  if (!bluez::requireOpen(env, current != nullptr, "hciLocalName")) return nullptr;
  BD_NAME name = {};
  current->GetLocalDeviceName(&name);
  return bluez::newStringFromDeviceText(env, reinterpret_cast<const char*>(name), sizeof name);
}

JNIEXPORT jint JNICALL Java_de_brelna_bluetooth_stack_BlueZ_getDeviceClass(JNIEnv* env, jclass, jint) {
  bluez::throwBlueZ(env, "Local Device class not supported by Widcomm");
  return -1;
}

JNIEXPORT jint JNICALL Java_de_brelna_bluetooth_stack_BlueZ_getRssi(JNIEnv* env, jclass, jstring addressText) {
  auto current = adapter();
  BD_ADDR address;
  tBT_CONN_STATS stats = {};
  if (!current || !bluez::parseAddress(env, addressText, address) || !current->GetConnectionStats(address, &stats))
    return 256;
  int32_t rssi = stats.Rssi;
  // The stack may report a small negative value in its byte form.
  if (rssi >= 243 && rssi <= 255) rssi -= 256;
  return rssi;
}

}  // extern "C"
