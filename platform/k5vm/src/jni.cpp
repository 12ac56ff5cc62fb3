// The VM's JNI function table: the functions the agents use. Any other slot ends the process
// with a message naming the slot, so a missing function is never silent.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <utility>

#include "internal.h"

namespace {

K5VMThread* self(JNIEnv* env) { return reinterpret_cast<K5VMThread*>(env); }

jint JNICALL getVersion(JNIEnv*) { return JNI_VERSION_1_2; }

jclass JNICALL findClass(JNIEnv* env, const char* name) {
  K5VMThread* thread = self(env);
  K5Class* clazz = k5vm_findClass(thread->javaVM, name, nullptr);
  return clazz ? static_cast<jclass>(k5vm_newLocalRef(thread, clazz->classObject)) : nullptr;
}

jclass JNICALL getObjectClass(JNIEnv* env, jobject object) {
  K5Object* target = k5vm_objectFromRef(object);
  if (!target || !target->clazz) return nullptr;
  return static_cast<jclass>(k5vm_newLocalRef(self(env), target->clazz->classObject));
}

jboolean JNICALL isSameObject(JNIEnv*, jobject a, jobject b) {
  return k5vm_objectFromRef(a) == k5vm_objectFromRef(b) ? JNI_TRUE : JNI_FALSE;
}

jobject JNICALL newGlobalRef(JNIEnv* env, jobject object) {
  return vmNewGlobalRef(self(env), k5vm_objectFromRef(object), false);
}
void JNICALL deleteGlobalRef(JNIEnv* env, jobject reference) { vmDeleteGlobalRef(self(env), reference); }
jweak JNICALL newWeakGlobalRef(JNIEnv* env, jobject object) {
  return vmNewGlobalRef(self(env), k5vm_objectFromRef(object), true);
}
void JNICALL deleteWeakGlobalRef(JNIEnv* env, jweak reference) { vmDeleteGlobalRef(self(env), reference); }

jobject JNICALL newLocalRef(JNIEnv* env, jobject object) {
  return k5vm_newLocalRef(self(env), k5vm_objectFromRef(object));
}
void JNICALL deleteLocalRef(JNIEnv*, jobject reference) {
  // The slot stays until its frame is popped; it no longer keeps the object.
  if (reference) *reinterpret_cast<K5Object**>(reference) = nullptr;
}
jint JNICALL pushLocalFrame(JNIEnv* env, jint capacity) { return k5vm_pushLocalFrame(self(env), capacity); }
jobject JNICALL popLocalFrame(JNIEnv* env, jobject result) {
  K5Object* object = k5vm_objectFromRef(result);
  k5vm_popLocalFrame(self(env));
  return object ? k5vm_newLocalRef(self(env), object) : nullptr;
}
jint JNICALL ensureLocalCapacity(JNIEnv*, jint) { return JNI_OK; }

jboolean JNICALL exceptionCheck(JNIEnv*) { return JNI_FALSE; }
jthrowable JNICALL exceptionOccurred(JNIEnv*) { return nullptr; }
void JNICALL exceptionClear(JNIEnv*) {}
void JNICALL exceptionDescribe(JNIEnv*) {}

void JNICALL fatalError(JNIEnv*, const char* message) {
  fprintf(stderr, "JVM: fatal error: %s\n", message ? message : "");
  fflush(stderr);
  exit(1);
}

jint JNICALL getJavaVM(JNIEnv* env, JavaVM** vm) {
  if (!vm) return JNI_ERR;
  *vm = reinterpret_cast<JavaVM*>(self(env)->javaVM);
  return JNI_OK;
}

jsize JNICALL getStringLength(JNIEnv* env, jstring string) {
  return static_cast<jsize>(k5vm_stringLength(self(env)->javaVM, k5vm_objectFromRef(string)));
}

std::string modifiedUtf8(K5JavaVM* vm, K5Object* string) {
  uint32_t length = k5vm_stringLength(vm, string);
  const uint16_t* chars = k5vm_stringChars(vm, string);
  std::string out;
  for (uint32_t i = 0; chars && i < length; i++) {
    uint16_t c = chars[i];
    if (c >= 0x01 && c <= 0x7F) {
      out.push_back(static_cast<char>(c));
    } else if (c <= 0x7FF) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

jsize JNICALL getStringUTFLength(JNIEnv* env, jstring string) {
  return static_cast<jsize>(modifiedUtf8(self(env)->javaVM, k5vm_objectFromRef(string)).size());
}
const char* JNICALL getStringUTFChars(JNIEnv* env, jstring string, jboolean* isCopy) {
  std::string text = modifiedUtf8(self(env)->javaVM, k5vm_objectFromRef(string));
  char* copy = static_cast<char*>(malloc(text.size() + 1));
  if (!copy) return nullptr;
  memcpy(copy, text.c_str(), text.size() + 1);
  if (isCopy) *isCopy = JNI_TRUE;
  return copy;
}
void JNICALL releaseStringUTFChars(JNIEnv*, jstring, const char* chars) { free(const_cast<char*>(chars)); }
jstring JNICALL newStringUTF(JNIEnv* env, const char* text) {
  if (!text) return nullptr;
  return static_cast<jstring>(k5vm_newLocalRef(self(env), vmNewString(self(env), text)));
}
jsize JNICALL getArrayLength(JNIEnv*, jarray array) {
  K5Object* object = k5vm_objectFromRef(array);
  if (!object || !(object->flags & K5_OBJECT_ARRAY)) return 0;
  return static_cast<jsize>(reinterpret_cast<K5ArrayObject*>(object)->length);
}

jmethodID findMethod(JNIEnv* env, jclass clazz, const char* name, const char* signature, bool wantStatic) {
  K5Class* target = k5vm_classFromClassObject(self(env)->javaVM, k5vm_objectFromRef(clazz));
  for (K5Class* c = target; c; c = c->superclass)
    for (uint32_t i = 0; i < c->methodCount; i++) {
      K5Method* method = &c->methods[i];
      if (strcmp(method->name, name) == 0 && strcmp(method->signature, signature) == 0 &&
          ((method->modifiers & K5_ACC_STATIC) != 0) == wantStatic)
        return k5vm_getMethodID(self(env), method);
    }
  return nullptr;
}
jmethodID JNICALL getMethodID(JNIEnv* env, jclass clazz, const char* name, const char* signature) {
  return findMethod(env, clazz, name, signature, false);
}
jmethodID JNICALL getStaticMethodID(JNIEnv* env, jclass clazz, const char* name, const char* signature) {
  return findMethod(env, clazz, name, signature, true);
}

// A missing function: the slot number tells which.
template <int N>
void JNICALL missing() {
  fprintf(stderr, "K5VM: JNI function %d is not provided by this VM\n", N);
  fflush(stderr);
  abort();
}

template <int... N>
void fillMissing(void** slots, std::integer_sequence<int, N...>) {
  ((slots[N] = reinterpret_cast<void*>(&missing<N>)), ...);
}

JNINativeInterface_ buildTable() {
  JNINativeInterface_ table;
  constexpr int kSlots = sizeof(JNINativeInterface_) / sizeof(void*);
  void** slots = reinterpret_cast<void**>(&table);
  fillMissing(slots, std::make_integer_sequence<int, kSlots>());
  table.reserved0 = table.reserved1 = table.reserved2 = table.reserved3 = nullptr;
  table.GetVersion = getVersion;
  table.FindClass = findClass;
  table.GetObjectClass = getObjectClass;
  table.IsSameObject = isSameObject;
  table.NewGlobalRef = newGlobalRef;
  table.DeleteGlobalRef = deleteGlobalRef;
  table.NewWeakGlobalRef = newWeakGlobalRef;
  table.DeleteWeakGlobalRef = deleteWeakGlobalRef;
  table.NewLocalRef = newLocalRef;
  table.DeleteLocalRef = deleteLocalRef;
  table.PushLocalFrame = pushLocalFrame;
  table.PopLocalFrame = popLocalFrame;
  table.EnsureLocalCapacity = ensureLocalCapacity;
  table.ExceptionCheck = exceptionCheck;
  table.ExceptionOccurred = exceptionOccurred;
  table.ExceptionClear = exceptionClear;
  table.ExceptionDescribe = exceptionDescribe;
  table.FatalError = fatalError;
  table.GetJavaVM = getJavaVM;
  table.GetStringLength = getStringLength;
  table.GetStringUTFLength = getStringUTFLength;
  table.GetStringUTFChars = getStringUTFChars;
  table.ReleaseStringUTFChars = releaseStringUTFChars;
  table.NewStringUTF = newStringUTF;
  table.GetArrayLength = getArrayLength;
  table.GetMethodID = getMethodID;
  table.GetStaticMethodID = getStaticMethodID;
  return table;
}

}  // namespace

const JNINativeInterface_* k5vmJniTable() {
  static const JNINativeInterface_ table = buildTable();
  return &table;
}
