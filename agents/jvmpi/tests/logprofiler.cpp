// A JVMPI profiler for the tests: -Xrunk5logprof:<file>[,<event>...] obtains the interface
// through the VM's GetEnv, enables the events named (all standard events when none are named)
// and writes one line per event it receives to the file.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>
#include <string>

#include "k5jvmpi.h"

namespace {

JVMPI_Interface* jvmpi = nullptr;
FILE* out = nullptr;
std::mutex lock;

void notify(JVMPI_Event* event) {
  std::lock_guard<std::mutex> guard(lock);
  if (!out) return;
  jint type = event->event_type & ~JVMPI_REQUESTED_EVENT;
  fprintf(out, "%d%s", type, (event->event_type & JVMPI_REQUESTED_EVENT) ? " requested" : "");
  switch (type) {
    case JVMPI_EVENT_THREAD_START:
      fprintf(out, " %s %s %s", event->u.thread_start.thread_name ? event->u.thread_start.thread_name : "(null)",
              event->u.thread_start.group_name ? event->u.thread_start.group_name : "(null)",
              event->u.thread_start.parent_name ? event->u.thread_start.parent_name : "(null)");
      break;
    case JVMPI_EVENT_CLASS_LOAD:
      fprintf(out, " %s methods=%d statics=%d instances=%d", event->u.class_load.class_name,
              event->u.class_load.num_methods, event->u.class_load.num_static_fields,
              event->u.class_load.num_instance_fields);
      break;
    case JVMPI_EVENT_OBJECT_ALLOC:
      fprintf(out, " is_array=%d size=%d class=%s", event->u.obj_alloc.is_array, event->u.obj_alloc.size,
              event->u.obj_alloc.class_id ? "yes" : "no");
      break;
    case JVMPI_EVENT_GC_FINISH:
      fprintf(out, " objects=%lld", static_cast<long long>(event->u.gc_info.used_objects));
      break;
    case JVMPI_EVENT_ARENA_NEW:
      fprintf(out, " %s", event->u.new_arena.arena_name);
      break;
    case JVMPI_EVENT_EXT_CODE:
      fprintf(out, " kind=%d size=%d", event->u.code_event.words[5], event->u.code_event.words[7]);
      break;
    default:
      break;
  }
  fprintf(out, "\n");
  fflush(out);
  if (type == JVMPI_EVENT_JVM_SHUT_DOWN) {
    fclose(out);
    out = nullptr;
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) jint JNICALL JVM_OnLoad(JavaVM* vm, char* options, void*) {
  if (vm->functions->GetEnv(vm, reinterpret_cast<void**>(&jvmpi), JVMPI_VERSION_1) != JNI_OK || !jvmpi) {
    fprintf(stderr, "k5logprof: no JVMPI\n");
    return -1;
  }
  std::string text = options ? options : "";
  size_t comma = text.find(',');
  std::string file = text.substr(0, comma);
  out = fopen(file.c_str(), "w");
  if (!out) return -1;
  jvmpi->NotifyEvent = notify;
  if (comma == std::string::npos) {
    for (jint type = 1; type <= 61; type++) jvmpi->EnableEvent(type, nullptr);
  } else {
    std::string rest = text.substr(comma + 1);
    size_t start = 0;
    while (start < rest.size()) {
      size_t next = rest.find(',', start);
      std::string word = rest.substr(start, next == std::string::npos ? std::string::npos : next - start);
      if (jvmpi->EnableEvent(atoi(word.c_str()), nullptr) != JVMPI_SUCCESS) {
        fprintf(stderr, "k5logprof: cannot enable %s\n", word.c_str());
        return -1;
      }
      if (next == std::string::npos) break;
      start = next + 1;
    }
  }
  return 0;
}
