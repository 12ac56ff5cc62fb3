// The XML trace profiler: options, printer, filters and the JVMPI event handler.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "xt_agent.h"

namespace xt {

AgentState agent;

// Whether this thread entered the filter monitor at a collection's start and still holds it.
static thread_local bool holdsMonitorForCollection = false;

void message(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  agent.port.errWrite(agent.port.context, buffer);
}

// ---- Printer -------------------------------------------------------------------------------

static bool openSocketPrinter(const ProfileOptions& options, Printer* printer) {
  const PortOps& port = agent.port;
  uint32_t address = 0;
  if (parseDottedQuad(options.serverHost, &address)) {
    address = __builtin_bswap32(address);  // network byte order (the host is little-endian)
  } else {
    int32_t found = port.lookupHost(port.context, options.serverHost, &address);
    if (found < 0) {
      message("Invalid hostname: %s\n", options.serverHost);
      return false;
    }
    if (found > 0) {
      message("Hostname: '%s' has no aliases.\n", options.serverHost);
      return false;
    }
  }
  intptr_t socket = -1;
  if (port.socketOpen(port.context, &socket) != 0) {
    message("Failed to allocate socket\n");
    if (socket != -1) port.socketClose(port.context, socket);
    return false;
  }
  uint16_t portNumber = 0;
  void* remote = nullptr;
  int32_t rc;
  if (!parsePort(options.serverPort, &portNumber)) {
    rc = -1;  // no port number: the address cannot be built
  } else {
    rc = port.socketAddress(port.context, address, __builtin_bswap16(portNumber), &remote);
  }
  if (rc != 0) {
    message("Failed to allocate remote Address/Port: %d\n", rc);
    port.socketClose(port.context, socket);
    return false;
  }
  rc = port.socketConnect(port.context, socket, remote);
  port.socketAddressFree(port.context, remote);
  if (rc != 0) {
    message("Failed to connect to server: %d\n", rc);
    port.socketClose(port.context, socket);
    return false;
  }
  printer->handle = socket;
  printer->kind.store(PrinterKind::Socket);
  return true;
}

bool createPrinter(const ProfileOptions& options, Printer* printer) {
  if (options.quiet) {
    printer->kind.store(PrinterKind::Quiet);
    return true;
  }
  if (options.toStderr) {
    printer->kind.store(PrinterKind::Stderr);
    return true;
  }
  if (options.fileName != nullptr) {
    intptr_t fd = agent.port.fileOpen(agent.port.context, options.fileName, kOpenWriteCreateTruncate, kOpenMode);
    if (fd == -1) return false;
    printer->handle = fd;
    printer->kind.store(PrinterKind::File);
    return true;
  }
  if (options.serverHost != nullptr && options.serverPort != nullptr) return openSocketPrinter(options, printer);
  return false;
}

void printRecord(const Record& record) {
  if (record.failed) {
    message("ERROR: out of memory\n");
    return;
  }
  const PortOps& port = agent.port;
  switch (agent.printer.kind.load(std::memory_order_acquire)) {
    case PrinterKind::Stderr:
      port.errWrite(port.context, record.data);
      break;
    case PrinterKind::File:
      port.fileWrite(port.context, agent.printer.handle, record.data, static_cast<intptr_t>(record.length));
      break;
    case PrinterKind::Socket:
      port.socketWrite(port.context, agent.printer.handle, record.data, static_cast<intptr_t>(record.length));
      break;
    case PrinterKind::Quiet:
    case PrinterKind::None:
      break;
  }
}

void closePrinter() {
  PrinterKind kind = agent.printer.kind.exchange(PrinterKind::None);
  if (kind == PrinterKind::File) agent.port.fileClose(agent.port.context, agent.printer.handle);
  if (kind == PrinterKind::Socket) agent.port.socketClose(agent.port.context, agent.printer.handle);
  agent.printer.handle = -1;
}

// ---- Time ----------------------------------------------------------------------------------

void eventTime(char out[kTimeTextSize]) {
  const PortOps& port = agent.port;
  uint64_t now = port.hiresClock(port.context);
  uint64_t elapsed = port.hiresDelta(port.context, agent.startHires, now, 1000000000ull);
  if (elapsed == 0) {
    message("%s\n", "k5time_hires_delta failed... RuntimeError (k5profile.c)");
    agent.jvmpi->ProfilerExit(-3);
  }
  formatTimeText(agent.startMillis, elapsed, out);
}

// ---- Filters -------------------------------------------------------------------------------

struct FileSource {
  intptr_t fd;
};

static intptr_t readFilterBlock(void* context, char* buffer, intptr_t size) {
  auto* source = static_cast<FileSource*>(context);
  return agent.port.fileRead(agent.port.context, source->fd, buffer, size);
}

static bool setUpFilters() {
  agent.filterMonitor = agent.jvmpi->RawMonitorCreate(const_cast<char*>("JVMPI Agent -- FilterSetMonitor"));
  if (agent.filterMonitor == nullptr) return false;
  intptr_t fd = agent.port.fileOpen(agent.port.context, agent.options.filtersFile, kOpenRead, kOpenMode);
  if (fd == -1) return true;  // no filters file: everything is traced
  FileSource source{fd};
  bool ok = readFilters(&agent.filters, readFilterBlock, &source);
  agent.port.fileClose(agent.port.context, fd);
  if (!ok) {
    message("FAILED to create Backing list\n");
    return false;
  }
  return true;
}

static void enterMonitor() { agent.jvmpi->RawMonitorEnter(agent.filterMonitor); }
static void exitMonitor() { agent.jvmpi->RawMonitorExit(agent.filterMonitor); }

static bool methodExcluded(jmethodID method) {
  enterMonitor();
  bool excluded = idSetContains(agent.excludedMethods, reinterpret_cast<uintptr_t>(method));
  exitMonitor();
  return excluded;
}

// ---- Records -------------------------------------------------------------------------------

static int64_t idValue(const void* id) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(id)); }
static int64_t threadObject(JNIEnv* env) { return idValue(agent.jvmpi->GetThreadObject(env)); }
static int64_t low32(jlong value) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value))); }

static void finish(Record* r) {
  recordEnd(r);
  printRecord(*r);
  recordFree(r);
}

static void writeClassLoad(JVMPI_Event* event) {
  char time[kTimeTextSize];
  eventTime(time);
  const auto& c = event->u.class_load;
  Record r;
  recordBegin(&r, "classDef");
  recordInt(&r, "threadIdRef", threadObject(event->env_id));
  recordText(&r, "name", c.class_name);
  recordText(&r, "sourceName", c.source_name);
  recordInt(&r, "classId", idValue(c.class_id));
  recordText(&r, "time", time);
  finish(&r);
  if (c.methods == nullptr) return;
  for (jint i = 0; i < c.num_methods; ++i) {
    const JVMPI_Method& m = c.methods[i];
    recordBegin(&r, "methodDef");
    recordText(&r, "name", m.method_name);
    recordText(&r, "signature", m.method_signature);
    recordInt(&r, "classIdRef", idValue(c.class_id));
    recordInt(&r, "methodId", idValue(m.method_id));
    finish(&r);
  }
}

static void handleClassLoad(JVMPI_Event* event) {
  const auto& c = event->u.class_load;
  enterMonitor();
  bool included = classIncluded(agent.filters, c.class_name);
  exitMonitor();
  if (included) {
    writeClassLoad(event);
    return;
  }
  enterMonitor();
  idSetAdd(&agent.excludedClasses, reinterpret_cast<uintptr_t>(c.class_id));
  if (c.methods != nullptr) {
    for (jint i = 0; i < c.num_methods; ++i) {
      idSetAdd(&agent.excludedMethods, reinterpret_cast<uintptr_t>(c.methods[i].method_id));
    }
  }
  exitMonitor();
}

static void handleMethodEntry(JVMPI_Event* event, MethodStack* stack) {
  jmethodID method = event->u.method_entry2.method_id;
  int32_t depth = stack->depth;
  stack->depth = depth + 1;
  if (depth < kMethodStackSlots) stack->slots[depth] = method;
  if (methodExcluded(method)) return;
  char time[kTimeTextSize];
  eventTime(time);
  Record r;
  recordBegin(&r, "methodEntry");
  recordInt(&r, "threadIdRef", threadObject(event->env_id));
  recordInt(&r, "methodIdRef", idValue(method));
  recordInt(&r, "objIdRef", idValue(event->u.method_entry2.obj_id));
  recordInt(&r, "classIdRef", idValue(agent.jvmpi->GetMethodClass(method)));
  recordInt(&r, "stackDepth", depth);
  recordText(&r, "time", time);
  recordInt(&r, "threadCpuTime", agent.jvmpi->GetCurrentThreadCpuTime());
  finish(&r);
}

static void handleMethodExit(JVMPI_Event* event, MethodStack* stack) {
  jmethodID method = event->u.method.method_id;
  stack->depth -= 1;
  if (stack->depth < 0) {
    message("k5profile: Error: apparent stack underflow in JVMPI_EVENT_METHOD_EXIT\n");
    stack->depth = 0;
  } else if (stack->depth < kMethodStackSlots && stack->slots[stack->depth] != method) {
    message("k5profile: Error: mismatched ENTER and EXIT in JVMPI_EVENT_METHOD_EXIT.Expecting method %p but got %p.\n",
            static_cast<void*>(stack->slots[stack->depth]), static_cast<void*>(method));
  }
  if (methodExcluded(method)) return;
  char time[kTimeTextSize];
  eventTime(time);
  Record r;
  recordBegin(&r, "methodExit");
  recordInt(&r, "threadIdRef", threadObject(event->env_id));
  recordText(&r, "time", time);
  recordInt(&r, "threadCpuTime", agent.jvmpi->GetCurrentThreadCpuTime());
  recordInt(&r, "methodIdRef", idValue(method));
  finish(&r);
}

static void handleObjectAlloc(JVMPI_Event* event) {
  const auto& a = event->u.obj_alloc;
  bool excluded = a.class_id == nullptr;
  enterMonitor();
  if (!excluded) excluded = idSetContains(agent.excludedClasses, reinterpret_cast<uintptr_t>(a.class_id));
  if (excluded) idSetAdd(&agent.excludedObjects, reinterpret_cast<uintptr_t>(a.obj_id));
  exitMonitor();
  if (excluded) return;
  char time[kTimeTextSize];
  eventTime(time);
  Record r;
  recordBegin(&r, "objAlloc");
  recordInt(&r, "threadIdRef", threadObject(event->env_id));
  recordInt(&r, "isArray", a.is_array);
  recordInt(&r, "objId", idValue(a.obj_id));
  recordInt(&r, "size", a.size);
  recordInt(&r, "classIdRef", idValue(a.class_id));
  recordText(&r, "time", time);
  finish(&r);
}

// Free and move events come inside a collection, whose thread holds the filter monitor; a
// thread that does not hold it takes it around the set change.
static void guardedObjects(bool enter) {
  if (holdsMonitorForCollection) return;
  if (enter) {
    enterMonitor();
  } else {
    exitMonitor();
  }
}

static void handleObjectFree(JVMPI_Event* event) {
  jobjectID object = event->u.obj_free.obj_id;
  bool excluded = object == nullptr;
  if (!excluded) {
    guardedObjects(true);
    excluded = idSetRemove(&agent.excludedObjects, reinterpret_cast<uintptr_t>(object));
    guardedObjects(false);
  }
  if (excluded) return;
  char time[kTimeTextSize];
  eventTime(time);
  Record r;
  recordBegin(&r, "objFree");
  recordText(&r, "time", time);
  recordInt(&r, "objIdRef", idValue(object));
  finish(&r);
}

static void handleObjectMove(JVMPI_Event* event) {
  const auto& m = event->u.obj_move;
  bool excluded = m.obj_id == nullptr;
  guardedObjects(true);
  if (!excluded) excluded = idSetRemove(&agent.excludedObjects, reinterpret_cast<uintptr_t>(m.obj_id));
  if (excluded) idSetAdd(&agent.excludedObjects, reinterpret_cast<uintptr_t>(m.new_obj_id));
  guardedObjects(false);
  if (excluded) return;
  char time[kTimeTextSize];
  eventTime(time);
  Record r;
  recordBegin(&r, "objMove");
  recordText(&r, "time", time);
  recordInt(&r, "objIdRef", idValue(m.obj_id));
  recordInt(&r, "newObjId", idValue(m.new_obj_id));
  finish(&r);
}

static void writeThreadStart(JVMPI_Event* event) {
  const auto& t = event->u.thread_start;
  char time[kTimeTextSize];
  eventTime(time);
  Record r;
  recordBegin(&r, "threadStart");
  recordInt(&r, "threadId", idValue(t.thread_id));
  recordText(&r, "time", time);
  recordText(&r, "threadName", t.thread_name);
  recordText(&r, "groupName", t.group_name);
  recordText(&r, "parentName", t.parent_name);
  recordInt(&r, "objIdRef", 0);
  finish(&r);
}

static void writeSimple(const char* element, JNIEnv* env) {
  char time[kTimeTextSize];
  eventTime(time);
  Record r;
  recordBegin(&r, element);
  recordInt(&r, "threadIdRef", threadObject(env));
  recordText(&r, "time", time);
  finish(&r);
}

static void writeGcFinish(JVMPI_Event* event) {
  const auto& g = event->u.gc_info;
  char time[kTimeTextSize];
  eventTime(time);
  Record r;
  recordBegin(&r, "gcFinish");
  recordInt(&r, "threadIdRef", threadObject(event->env_id));
  recordText(&r, "time", time);
  recordInt(&r, "totalObjectSpace", low32(g.total_object_space));
  recordInt(&r, "usedObjectSpace", low32(g.used_object_space));
  recordInt(&r, "usedObjects", low32(g.used_objects));
  finish(&r);
}

static MethodStack* methodStackOf(JNIEnv* env) {
  auto* stack = static_cast<MethodStack*>(agent.jvmpi->GetThreadLocalStorage(env));
  if (stack != nullptr) return stack;
  stack = static_cast<MethodStack*>(agent.port.memAlloc(agent.port.context, sizeof(MethodStack)));
  if (stack == nullptr) {
    message("k5profile: Error allocating thread local storage\n");
    agent.jvmpi->ProfilerExit(-2);
    return nullptr;  // only when ProfilerExit returns (never in the VM)
  }
  std::memset(stack, 0, sizeof(MethodStack));
  agent.jvmpi->SetThreadLocalStorage(env, stack);
  return stack;
}

void agentNotifyEvent(JVMPI_Event* event) {
  MethodStack* stack = methodStackOf(event->env_id);
  if (stack == nullptr) return;
  jint type = event->event_type & ~JVMPI_REQUESTED_EVENT;
  switch (type) {
    case JVMPI_EVENT_METHOD_ENTRY2:
      handleMethodEntry(event, stack);
      break;
    case JVMPI_EVENT_METHOD_EXIT:
      handleMethodExit(event, stack);
      break;
    case JVMPI_EVENT_OBJECT_ALLOC:
      handleObjectAlloc(event);
      break;
    case JVMPI_EVENT_OBJECT_FREE:
      handleObjectFree(event);
      break;
    case JVMPI_EVENT_OBJECT_MOVE:
      handleObjectMove(event);
      break;
    case JVMPI_EVENT_THREAD_START:
      writeThreadStart(event);
      break;
    case JVMPI_EVENT_THREAD_END:
      writeSimple("threadEnd", event->env_id);
      agent.port.memFree(agent.port.context, stack);
      agent.jvmpi->SetThreadLocalStorage(event->env_id, nullptr);
      break;
    case JVMPI_EVENT_CLASS_LOAD:
      handleClassLoad(event);
      break;
    case JVMPI_EVENT_JVM_SHUT_DOWN:
      closePrinter();
      // The thread that shuts the VM down gets no end event of its own: its stack goes now.
      agent.port.memFree(agent.port.context, stack);
      agent.jvmpi->SetThreadLocalStorage(event->env_id, nullptr);
      break;
    case JVMPI_EVENT_GC_START:
      enterMonitor();
      holdsMonitorForCollection = true;
      writeSimple("gcStart", event->env_id);
      break;
    case JVMPI_EVENT_GC_FINISH:
      writeGcFinish(event);
      if (holdsMonitorForCollection) {
        holdsMonitorForCollection = false;
        exitMonitor();
      }
      break;
    default:
      message("Received unrequested event(%ld)\n", static_cast<long>(type));
      break;
  }
}

static void notifyEvent(JVMPI_Event* event) { agentNotifyEvent(event); }

// ---- Start ---------------------------------------------------------------------------------

static void releaseOptions() {
  if (agent.optionsCopy != nullptr) agent.port.memFree(agent.port.context, agent.optionsCopy);
  agent.optionsCopy = nullptr;
}

jint agentStart(const char* options) {
  const PortOps& port = agent.port;
  // Options.
  const char* text = options != nullptr ? options : "";
  size_t length = std::strlen(text);
  agent.optionsCopy = static_cast<char*>(port.memAlloc(port.context, length + 1));
  bool parsed = false;
  if (agent.optionsCopy == nullptr) {
    message("k5profile.parseOptions: Failed to allocate buffer, out of memory\n");
  } else {
    std::memcpy(agent.optionsCopy, text, length + 1);
    agent.options = ProfileOptions{};
    parsed = parseOptions(agent.optionsCopy, &agent.options);
  }
  if (!parsed || agent.options.help) {
    port.errWrite(port.context, kOptionsText);
    agent.jvmpi->ProfilerExit(0);
    releaseOptions();
    return -1;  // only when ProfilerExit returns (never in the VM)
  }
  if (agent.options.filtersHelp) {
    port.errWrite(port.context, kFiltersText);
    agent.jvmpi->ProfilerExit(0);
    releaseOptions();
    return -1;
  }
  // Filters.
  if (!setUpFilters()) {
    message("k5profile: Failed to setup filters\n");
    releaseOptions();
    return -1;
  }
  // Printer.
  if (!createPrinter(agent.options, &agent.printer)) {
    releaseOptions();
    return -1;
  }
  // Time base.
  agent.startMillis = port.timeMillis(port.context);
  agent.startHires = port.hiresClock(port.context);
  // Handler and events.
  agent.jvmpi->NotifyEvent = notifyEvent;
  jint events[11];
  int count = 0;
  for (jint e : {JVMPI_EVENT_JVM_SHUT_DOWN, JVMPI_EVENT_CLASS_LOAD, JVMPI_EVENT_THREAD_START, JVMPI_EVENT_THREAD_END,
                 JVMPI_EVENT_GC_START, JVMPI_EVENT_GC_FINISH}) {
    events[count++] = e;
  }
  if (!agent.options.noMemoryEvents) {
    for (jint e : {JVMPI_EVENT_OBJECT_ALLOC, JVMPI_EVENT_OBJECT_FREE, JVMPI_EVENT_OBJECT_MOVE}) events[count++] = e;
  }
  if (!agent.options.noExecutionEvents) {
    for (jint e : {JVMPI_EVENT_METHOD_ENTRY2, JVMPI_EVENT_METHOD_EXIT}) events[count++] = e;
  }
  for (int i = 0; i < count; ++i) {
    if (agent.jvmpi->EnableEvent(events[i], nullptr) != JVMPI_SUCCESS) {
      message("k5profile: Enable event failed: %d (%p)\n", static_cast<int>(events[i]), static_cast<void*>(nullptr));
      releaseOptions();
      return -1;
    }
  }
  releaseOptions();
  return 0;
}

void agentReset() {
  closePrinter();
  freeFilters(&agent.filters);
  idSetFree(&agent.excludedClasses);
  idSetFree(&agent.excludedMethods);
  idSetFree(&agent.excludedObjects);
  if (agent.filterMonitor != nullptr && agent.jvmpi != nullptr) agent.jvmpi->RawMonitorDestroy(agent.filterMonitor);
  agent.filterMonitor = nullptr;
  agent.options = ProfileOptions{};
  agent.jvmpi = nullptr;
  agent.vm = nullptr;
}

}  // namespace xt
