// Service search: discovery of a device's records, the UUID test, and their attributes as
// Java DataElements delivered in RemoteServiceRecords.
#include <memory>
#include <vector>

#include "bluez/common.h"
#include "btce.h"
#include "sdp.h"

namespace btce {

namespace {

constexpr int kMaxRecords = 32;
constexpr DWORD kSearchLockMs = 10000;
constexpr DWORD kDiscoveryMs = 60000;
constexpr jint kCompleted = 1;
constexpr jint kError = 3;

// The Java classes and methods a search uses.
struct SearchJava {
  jclass record = nullptr, bluez = nullptr, dataElement = nullptr;
  jmethodID recordInit = nullptr, setAttributeValue = nullptr;
  jmethodID serviceSearchComplete = nullptr, addService = nullptr, newByteArray = nullptr;
  jmethodID elementOfType = nullptr, elementOfBytes = nullptr, addElement = nullptr;

  bool resolve(JNIEnv* env) {
    record = bluez::resolveClass(env, "de/brelna/bluetooth/sdp/RemoteServiceRecord");
    bluez = bluez::resolveClass(env, "de/brelna/bluetooth/stack/BlueZ");
    dataElement = bluez::resolveClass(env, "javax/bluetooth/DataElement");
    bluez::describeAndClear(env);
    if (!record || !bluez || !dataElement) return false;
    recordInit = env->GetMethodID(record, "<init>", "(Ljava/lang/String;)V");
    setAttributeValue = env->GetMethodID(record, "setAttributeValue", "(ILjavax/bluetooth/DataElement;)Z");
    serviceSearchComplete = env->GetStaticMethodID(bluez, "serviceSearchComplete", "(II)V");
    addService = env->GetStaticMethodID(bluez, "addService", "(ILjavax/bluetooth/ServiceRecord;)V");
    newByteArray = env->GetStaticMethodID(bluez, "newByteArray", "(I)[B");
    elementOfType = env->GetMethodID(dataElement, "<init>", "(I)V");
    elementOfBytes = env->GetMethodID(dataElement, "<init>", "([B)V");
    addElement = env->GetMethodID(dataElement, "addElement", "(Ljavax/bluetooth/DataElement;)V");
    bluez::describeAndClear(env);
    return recordInit && setAttributeValue && serviceSearchComplete && addService && newByteArray &&
           elementOfType && elementOfBytes && addElement;
  }

  void release(JNIEnv* env) {
    if (record) env->DeleteLocalRef(record);
    if (bluez) env->DeleteLocalRef(bluez);
    if (dataElement) env->DeleteLocalRef(dataElement);
  }
};

// One element as a DataElement made by Java from its SDP encoding, or null (no encoding, or a
// Java exception is pending).
jobject makeElement(JNIEnv* env, const SearchJava& java, const SDP_DISC_ATTTR_VAL& value, int index,
                    bool protocolList, std::vector<uint8_t>& work) {
  if (!encodeElement(value, index, protocolList, work)) return nullptr;
  jsize length = static_cast<jsize>(paddedLength(work.size()));
  auto array = static_cast<jbyteArray>(env->CallStaticObjectMethod(java.bluez, java.newByteArray, length));
  if (!array || env->ExceptionCheck()) return nullptr;
  jobject element = nullptr;
  if (env->GetArrayLength(array) >= static_cast<jsize>(work.size())) {
    env->SetByteArrayRegion(array, 0, static_cast<jsize>(work.size()), reinterpret_cast<const jbyte*>(work.data()));
    element = env->NewObject(java.dataElement, java.elementOfBytes, array);
  }
  env->DeleteLocalRef(array);
  return env->ExceptionCheck() ? nullptr : element;
}

jobject newSequence(JNIEnv* env, const SearchJava& java) {
  jobject sequence = env->NewObject(java.dataElement, java.elementOfType, jint(0x30));
  return env->ExceptionCheck() ? nullptr : sequence;
}

// Appends `element` to `sequence` and drops the local reference to the element.
void append(JNIEnv* env, const SearchJava& java, jobject sequence, jobject element) {
  if (!element) return;
  if (sequence && !env->ExceptionCheck()) env->CallVoidMethod(sequence, java.addElement, element);
  env->DeleteLocalRef(element);
}

// One element as itself; several as a sequence of them.
jobject convertGeneral(JNIEnv* env, const SearchJava& java, const SDP_DISC_ATTTR_VAL& value,
                       std::vector<uint8_t>& work) {
  int count = elementCount(value);
  if (count == 1) return makeElement(env, java, value, 0, false, work);
  jobject sequence = newSequence(env, java);
  if (!sequence) return nullptr;
  for (int i = 0; i < count && !env->ExceptionCheck(); ++i) append(env, java, sequence, makeElement(env, java, value, i, false, work));
  return sequence;
}

// The protocol descriptor list: a sequence of sequences, each begun by a protocol's UUID.
jobject convertProtocols(JNIEnv* env, const SearchJava& java, const SDP_DISC_ATTTR_VAL& value,
                         std::vector<uint8_t>& work) {
  jobject result = newSequence(env, java);
  if (!result) return nullptr;
  jobject inner = nullptr;
  int count = elementCount(value);
  for (int i = 0; i < count && !env->ExceptionCheck(); ++i) {
    if (value.elem[i].type == ATTR_TYPE_UUID) {
      jobject fresh = newSequence(env, java);
      if (!fresh) break;
      env->CallVoidMethod(result, java.addElement, fresh);
      if (inner) env->DeleteLocalRef(inner);
      inner = fresh;
    }
    // Parameters before the first UUID have no protocol of their own: they go to the list itself.
    append(env, java, inner ? inner : result, makeElement(env, java, value, i, true, work));
  }
  if (inner) env->DeleteLocalRef(inner);
  return result;
}

int runDiscovery(StackAdapter& adapter, BD_ADDR address, CSdpDiscoveryRec* records) {
  HANDLE event;
  {
    std::lock_guard<std::mutex> guard(adapter.eventLock);
    if (!adapter.discoveryIdle || adapter.discoveryEvent) return -1;
    adapter.discoveryIdle = 0;
    event = adapter.discoveryEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  auto forgetEvent = [&adapter, event] {
    {
      std::lock_guard<std::mutex> guard(adapter.eventLock);
      if (adapter.discoveryEvent == event) adapter.discoveryEvent = nullptr;
    }
    CloseHandle(event);
  };
  if (adapter.StartDiscovery(address, nullptr)) {
    DWORD waited = WaitForSingleObject(event, kDiscoveryMs);
    forgetEvent();
    if (waited != WAIT_TIMEOUT) return adapter.ReadDiscoveryRecords(address, kMaxRecords, records, nullptr);
  } else {
    forgetEvent();
  }
  adapter.discoveryIdle = 1;
  return -1;
}

// Delivers the records that hold every requested UUID; answers the completion code.
jint deliverRecords(JNIEnv* env, const SearchJava& java, jstring addressText, CSdpDiscoveryRec* records, int count,
                    const std::vector<Uuid128>& wanted, const jint* ids, jsize idCount, jint transactionId) {
  auto value = std::make_unique<SDP_DISC_ATTTR_VAL>();
  std::vector<uint8_t> work;
  work.reserve(200);
  for (int r = 0; r < count; ++r) {
    jobject record = env->NewObject(java.record, java.recordInit, addressText);
    if (!env->ExceptionCheck() && recordHasUuids(records[r], wanted, *value)) {
      for (jsize i = 0; i < idCount && !env->ExceptionCheck(); ++i) {
        jint id = ids[i];
        if (id < 0 || id > 0xFFFF) continue;  // no such attribute
        if (!records[r].FindAttribute(static_cast<UINT16>(id), value.get()) || elementCount(*value) < 1) continue;
        jobject element = id == 4 ? convertProtocols(env, java, *value, work) : convertGeneral(env, java, *value, work);
        if (element && record && !env->ExceptionCheck()) env->CallBooleanMethod(record, java.setAttributeValue, id, element);
        if (element) env->DeleteLocalRef(element);
      }
      if (record && !env->ExceptionCheck()) env->CallStaticVoidMethod(java.bluez, java.addService, transactionId, record);
    }
    if (record) env->DeleteLocalRef(record);
    if (bluez::describeAndClear(env)) return kError;
  }
  return kCompleted;
}

}  // namespace

}  // namespace btce

using namespace btce;

extern "C" JNIEXPORT void JNICALL Java_de_brelna_bluetooth_stack_BlueZ_listService(JNIEnv* env, jclass,
                                                                                  jstring addressText,
                                                                                  jobjectArray uuidArrays,
                                                                                  jintArray attributeIds,
                                                                                  jint transactionId) {
  State& s = state();
  if (!bluez::requireOpen(env, s.javaReady, "listService")) return;
  SearchJava java;
  if (!java.resolve(env)) {
    java.release(env);
    return;
  }
  auto complete = [&](jint code) { env->CallStaticVoidMethod(java.bluez, java.serviceSearchComplete, transactionId, code); };
  auto current = adapter();
  bool locked = WaitForSingleObject(s.searchLock, kSearchLockMs) == WAIT_OBJECT_0;
  BD_ADDR address;
  if (!locked || !current->discoveryIdle || !bluez::parseAddress(env, addressText, address)) {
    complete(kError);
    if (locked) ReleaseMutex(s.searchLock);
    java.release(env);
    return;
  }

  // The requested UUIDs (16-byte forms) and attribute ids.
  std::vector<Uuid128> wanted;
  jsize uuidCount = uuidArrays ? env->GetArrayLength(uuidArrays) : 0;
  for (jsize i = 0; i < uuidCount; ++i) {
    auto array = static_cast<jbyteArray>(env->GetObjectArrayElement(uuidArrays, i));
    if (!array) {
      wanted.push_back(requestedUuid(nullptr, 0));
      continue;
    }
    jsize length = env->GetArrayLength(array);
    jbyte* bytes = env->GetByteArrayElements(array, nullptr);
    wanted.push_back(requestedUuid(reinterpret_cast<const uint8_t*>(bytes), bytes ? static_cast<size_t>(length) : 0));
    if (bytes) env->ReleaseByteArrayElements(array, bytes, JNI_ABORT);
    env->DeleteLocalRef(array);
  }
  jsize idCount = attributeIds ? env->GetArrayLength(attributeIds) : 0;
  jint* ids = attributeIds ? env->GetIntArrayElements(attributeIds, nullptr) : nullptr;
  if (!ids) idCount = 0;

  std::unique_ptr<CSdpDiscoveryRec[]> records(new CSdpDiscoveryRec[kMaxRecords]);
  int count = runDiscovery(*current, address, records.get());
  if (count < 0) {
    // The stack is left in an unknown state: start over with a fresh adapter.
    replaceAdapter(std::make_shared<StackAdapter>(current->vm, current->classResolver));
    current.reset();
    count = 0;
  }
  jint code = deliverRecords(env, java, addressText, records.get(), count, wanted, ids, idCount, transactionId);
  complete(code);

  if (ids) env->ReleaseIntArrayElements(attributeIds, ids, JNI_ABORT);
  ReleaseMutex(s.searchLock);
  java.release(env);
}
