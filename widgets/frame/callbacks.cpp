// The callback registry of a display, event dispatch to Java peers, and the natives that
// attach peers and dispose of widgets and devices.
#include <cstdarg>
#include <cstdlib>

#include "hvl.h"

namespace {

enum class Result { Void, Boolean, Int };

CallbackEntry* findEntry(CallbackLookup* lookup, uint32_t id) {
  for (CallbackEntry* entry = lookup->buckets[id % HVL_CALLBACK_CHAINS]; entry; entry = entry->next) {
    if (entry->id == id) return entry;
  }
  return nullptr;
}

// Calls the method registered under `id` on the target's peer. `fallback` is the answer when
// the event cannot be delivered before the VM is reached; `refused` when the thread cannot be
// attached.
jint dispatch(Result kind, uint32_t id, const char* signature, CallbackTarget* target, jint fallback,
              jint refused, va_list arguments) {
  if (!target) return fallback;
  CallbackLookup* lookup = getCallbackLookup(target);
  if (!lookup) return fallback;
  CallbackEntry* entry = findEntry(lookup, id);
  if (!entry) return fallback;
  JNIEnv* env = nullptr;
  BOOL attached = FALSE;
  if (getEnv(lookup, &env, &attached) != 0) return refused;
  jint result = fallback;
  if (!entry->methodId) {
    jclass declaring = env->FindClass(entry->className);
    jmethodID method = declaring ? env->GetMethodID(declaring, entry->methodName, signature) : nullptr;
    if (declaring) env->DeleteLocalRef(declaring);
    if (!method) {
      env->ExceptionDescribe();
      if (attached) lookup->vm->DetachCurrentThread();
      return fallback;
    }
    entry->methodId = method;
  }
  switch (kind) {
    case Result::Void:
      env->CallVoidMethodV(target->peer, entry->methodId, arguments);
      break;
    case Result::Boolean:
      result = env->CallBooleanMethodV(target->peer, entry->methodId, arguments) ? 1 : 0;
      break;
    case Result::Int:
      result = env->CallIntMethodV(target->peer, entry->methodId, arguments);
      break;
  }
  if (attached) lookup->vm->DetachCurrentThread();
  return result;
}

}  // namespace

HVL_EXPORT CallbackLookup* getCallbackLookup(CallbackTarget* target) {
  if (!target) return nullptr;
  if (!target->display && target->widget) target->display = target->widget->display;
  return target->display ? target->display->callbackLookup : nullptr;
}

HVL_EXPORT jint getEnv(CallbackLookup* lookup, JNIEnv** env, BOOL* attached) {
  *attached = FALSE;
  jint status = lookup->vm->GetEnv(reinterpret_cast<void**>(env), JNI_VERSION_1_1);
  if (status == JNI_OK) return 0;
  if (status != JNI_EDETACHED) return status;
  status = lookup->vm->AttachCurrentThread(reinterpret_cast<void**>(env), nullptr);
  if (status != JNI_OK) return status;
  *attached = TRUE;
  return 0;
}

HVL_EXPORT void vaCallback(uint32_t id, const char* signature, CallbackTarget* target, ...) {
  va_list arguments;
  va_start(arguments, target);
  dispatch(Result::Void, id, signature, target, 0, 0, arguments);
  va_end(arguments);
}

HVL_EXPORT jboolean vaCallbackBoolean(uint32_t id, const char* signature, CallbackTarget* target, ...) {
  va_list arguments;
  va_start(arguments, target);
  jint result = dispatch(Result::Boolean, id, signature, target, 0, 1, arguments);
  va_end(arguments);
  return result ? JNI_TRUE : JNI_FALSE;
}

HVL_EXPORT jint vaCallbackInt(uint32_t id, const char* signature, CallbackTarget* target, ...) {
  va_list arguments;
  va_start(arguments, target);
  jint result = dispatch(Result::Int, id, signature, target, 0, 0, arguments);
  va_end(arguments);
  return result;
}

HVL_EXPORT void hvlCallbackButtonClick(CallbackTarget* t) { vaCallback(HVL_CB_BUTTON_CLICK, "()V", t); }
HVL_EXPORT void hvlCallbackListSelection(CallbackTarget* t, jint index, jint kind) {
  vaCallback(HVL_CB_LIST_SELECTION, "(II)V", t, index, kind);
}
HVL_EXPORT void hvlCallbackWindowEvent(CallbackTarget* t, jint event) { vaCallback(HVL_CB_WINDOW_EVENT, "(I)V", t, event); }
HVL_EXPORT void hvlCallbackScroll(CallbackTarget* t, jint value, jint kind) { vaCallback(HVL_CB_SCROLL, "(II)V", t, value, kind); }
HVL_EXPORT void hvlCallbackComboSelection(CallbackTarget* t, jint index) { vaCallback(HVL_CB_COMBO_SELECTION, "(I)V", t, index); }
HVL_EXPORT jboolean hvlCallbackKey(CallbackTarget* t, jint kind, jchar character, jint keyCode, jint modifiers) {
  return vaCallbackBoolean(HVL_CB_KEY, "(ICII)Z", t, kind, static_cast<jint>(character), keyCode, modifiers);
}
HVL_EXPORT void hvlCallbackTextChanged(CallbackTarget* t) { vaCallback(HVL_CB_TEXT_CHANGED, "()V", t); }
HVL_EXPORT void hvlCallbackPointer(CallbackTarget* t, jint kind, jint x, jint y, jint button, jint modifiers) {
  vaCallback(HVL_CB_POINTER, "(IIIII)V", t, kind, x, y, button, modifiers);
}
HVL_EXPORT void hvlCallbackMenuItem(CallbackTarget* t) { vaCallback(HVL_CB_MENU_ITEM, "(I)V", t, 0); }
HVL_EXPORT void hvlCallbackFocus(CallbackTarget* t, jint kind) { vaCallback(HVL_CB_FOCUS, "(I)V", t, kind); }
HVL_EXPORT void hvlCallbackPaint(CallbackTarget* t, jint x, jint y, jint width, jint height) {
  vaCallback(HVL_CB_PAINT, "(IIII)V", t, x, y, width, height);
}
HVL_EXPORT void hvlCallbackShellResized(CallbackTarget* t, jint width, jint height) {
  vaCallback(HVL_CB_SHELL_RESIZED, "(II)V", t, width, height);
}
HVL_EXPORT void hvlCallbackShellMoved(CallbackTarget* t, jint x, jint y) { vaCallback(HVL_CB_SHELL_MOVED, "(II)V", t, x, y); }
HVL_EXPORT void hvlCallbackWheel(CallbackTarget* t, jint kind, jint x, jint y, jint modifiers, jint lines, jint notches) {
  vaCallback(HVL_CB_WHEEL, "(IIIIII)V", t, kind, x, y, modifiers, lines, notches);
}
HVL_EXPORT jint hvlCallbackPointerPressed(CallbackTarget* t, jint x, jint y) {
  return vaCallbackInt(HVL_CB_POINTER_PRESSED, "(II)I", t, x, y);
}

// ---- Natives -----------------------------------------------------------------------------------

extern "C" JNIEXPORT void JNICALL Java_com_zel_hvl_r7tx_OS_Display_1InitCallbacks(JNIEnv* env, jclass, jint handle,
                                                                                 jobject callbacks) {
  Display* display = hvlRecord<Display>(handle);
  auto* lookup = static_cast<CallbackLookup*>(std::calloc(1, sizeof(CallbackLookup)));
  if (!lookup) {
    hvlThrowOutOfMemory(env, "Failed to allocate space for callback lookup");
    return;
  }
  lookup->buckets = static_cast<CallbackEntry**>(std::calloc(HVL_CALLBACK_CHAINS, sizeof(CallbackEntry*)));
  if (!lookup->buckets) {
    std::free(lookup);
    hvlThrowOutOfMemory(env, "Failed to allocate space for callback table");
    return;
  }
  env->GetJavaVM(&lookup->vm);
  lookup->displayObject = env->NewGlobalRef(callbacks);
  if (callbacks && !lookup->displayObject) {
    std::free(lookup->buckets);
    std::free(lookup);
    return;
  }
  display->callbackLookup = lookup;
}

extern "C" JNIEXPORT void JNICALL Java_com_zel_hvl_r7tx_OS_Display_1RegisterCallback(JNIEnv* env, jclass,
                                                                                    jint handle, jint id,
                                                                                    jstring className,
                                                                                    jstring methodName) {
  Display* display = hvlRecord<Display>(handle);
  CallbackLookup* lookup = display ? display->callbackLookup : nullptr;
  if (!lookup) {
    env->FatalError("Display_GetCallbacks() returned NULL and should not have");
    return;
  }
  auto* entry = static_cast<CallbackEntry*>(std::calloc(1, sizeof(CallbackEntry)));
  if (!entry) {
    hvlThrowOutOfMemory(env, "Failed to allocate space for callback entry");
    return;
  }
  // The names stay with the entry for the life of the process.
  const char* classChars = className ? env->GetStringUTFChars(className, nullptr) : nullptr;
  const char* methodChars = classChars && methodName ? env->GetStringUTFChars(methodName, nullptr) : nullptr;
  if (!classChars || !methodChars) {
    if (classChars) env->ReleaseStringUTFChars(className, classChars);
    std::free(entry);
    return;
  }
  entry->className = classChars;
  entry->methodName = methodChars;
  entry->id = static_cast<uint32_t>(id);
  CallbackEntry** chain = &lookup->buckets[entry->id % HVL_CALLBACK_CHAINS];
  if (!*chain) {
    *chain = entry;
    return;
  }
  CallbackEntry* last = *chain;
  for (;;) {
    if (last->id == entry->id) {
      env->FatalError("An event callback with that ID has already been registered");
      return;
    }
    if (!last->next) break;
    last = last->next;
  }
  last->next = entry;
}

extern "C" JNIEXPORT void JNICALL Java_com_zel_hvl_r7tx_OS_Widget_1SetData(JNIEnv* env, jclass, jint handle,
                                                                          jobject data) {
  auto* widget = hvlRecord<WidgetHead>(handle);
  CallbackTarget* target = nullptr;
  if (data) {
    jobject peer = env->NewGlobalRef(data);
    if (!peer) return;
    target = static_cast<CallbackTarget*>(std::calloc(1, sizeof(CallbackTarget)));
    if (!target) {
      env->DeleteGlobalRef(peer);
      hvlThrowOutOfMemory(env, "Failed to allocate space for callback target");
      return;
    }
    target->peer = peer;
    target->widget = widget;
  }
  CallbackTarget* previous;
  if (widget->display && widget->display->messageWindow) {
    previous = reinterpret_cast<CallbackTarget*>(SendMessageW(widget->display->messageWindow, WMX_SET_DATA,
                                                              reinterpret_cast<WPARAM>(widget),
                                                              reinterpret_cast<LPARAM>(target)));
  } else {
    previous = widget->target;
    widget->target = target;
  }
  if (previous) {
    env->DeleteGlobalRef(previous->peer);
    std::free(previous);
  }
}

extern "C" JNIEXPORT void JNICALL Java_com_zel_hvl_r7tx_OS_Widget_1Dispose(JNIEnv*, jclass, jint handle) {
  auto* widget = hvlRecord<WidgetHead>(handle);
  if (!widget) return;
  widget->target = nullptr;
  if (widget->dispose) widget->dispose(widget);
  hvlFree(widget);
}

extern "C" JNIEXPORT void JNICALL Java_com_zel_hvl_r7tx_OS_Device_1Dispose(JNIEnv*, jclass, jint handle) {
  auto* device = hvlRecord<Device>(handle);
  if (device && device->dispose) device->dispose(device);
}
