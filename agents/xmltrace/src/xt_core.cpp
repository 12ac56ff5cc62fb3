// The VM-independent core of the XML trace profiler.
#include "xt_core.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace xt {

// ---- Options -------------------------------------------------------------------------------

const char* const kOptionsText =
    "Options:\n"
    "help\tDisplay this message.\n"
    "\n"
    "server=<ip>:<port>\tWrite trace to server at <ip> (IPV4 dotted quad) on port: <port>.\n"
    "file=<filename>\t\tWrite trace to <filename>.\n"
    "stderr\t\t\tWrite trace to stderr.\n"
    "quiet \t\t\tMake no I/O actions.\n"
    "\n"
    "mode={all,memory,execution}\t(default: \"all\")\n"
    "\tall: Collect both execution and memory usage information.\n"
    "\tmemory: Collect memory usage information.\n"
    "\texecution: Collect execution information.\n"
    "\n"
    "filters=<filename>\t(default: \"filters.txt\")\n"
    "\tBuild filter list from <filename>.\n"
    "filters-help\tDisplay filters usage message\n"
    "\n";

const char* const kFiltersText =
    "Filters\n"
    "~~~~~~~\n"
    "Filters are used to cut down on the amount of data that is collected\n"
    "by k5profile because otherwise the sheer amount of data collected\n"
    "would be unmanageable.\n"
    "\n"
    "Filters are specified in a plain text file (default of \"filters.txt\")\n"
    "specified by the \"filters=\" option. Each line of a filters file should\n"
    "contain one filter of the format:\n"
    "('+' | '-') (<name> ['*'] | '*')\n"
    "\n"
    "Where <name> is the first (n > 1) characters of the '/' separated fully\n"
    "qualified name of a class(es) or package of interest. A '+' indicates\n"
    "that information about matching classes should be collected while a '-'\n"
    "indicates that it should be ignored.  Finally, the '*' character matches\n"
    "any character 0 or more times.  Patterns are matched in the order\n"
    "that they appear in the file, with the first pattern to match taking effect.\n"
    "\n"
    "For example:\n"
    "\t+ java/lang/String\n"
    "\t+ com/zel/k5/k5profiled/test*\n"
    "\t- *\n"
    "\n"
    "This filter specification includes information about java.lang.String and\n"
    "all the classes from com.zel.k5.k5profiled.test but excludes all other classes,\n"
    "including java.lang.String(Builder|Buffer).\n";

static const char* afterPrefix(const char* piece, const char* prefix) {
  size_t n = std::strlen(prefix);
  return std::strncmp(piece, prefix, n) == 0 ? piece + n : nullptr;
}

bool parseOptions(char* copy, ProfileOptions* out) {
  char* piece = copy;
  while (piece != nullptr) {
    char* comma = std::strchr(piece, ',');
    if (comma != nullptr) *comma = '\0';
    const char* value;
    if (std::strcmp(piece, "help") == 0) {
      out->help = true;
    } else if (std::strcmp(piece, "filters-help") == 0) {
      out->filtersHelp = true;
    } else if (std::strcmp(piece, "quiet") == 0) {
      out->quiet = true;
    } else if (std::strcmp(piece, "stderr") == 0) {
      out->toStderr = true;
    } else if ((value = afterPrefix(piece, "file=")) != nullptr) {
      out->fileName = value;
    } else if ((value = afterPrefix(piece, "server=")) != nullptr) {
      // Host before the first colon, port after it; without a colon there is no port and
      // the server option does not count as an output.
      char* host = piece + std::strlen("server=");
      char* colon = std::strchr(host, ':');
      out->serverHost = host;
      out->serverPort = nullptr;
      if (colon != nullptr) {
        *colon = '\0';
        out->serverPort = colon + 1;
      }
    } else if ((value = afterPrefix(piece, "mode=")) != nullptr) {
      out->noMemoryEvents = std::strcmp(value, "execution") == 0;
      out->noExecutionEvents = std::strcmp(value, "memory") == 0;
    } else if ((value = afterPrefix(piece, "filters=")) != nullptr) {
      out->filtersFile = value;
    } else {
      return false;
    }
    piece = comma != nullptr ? comma + 1 : nullptr;
  }
  return out->help || out->filtersHelp || out->toStderr || out->quiet || out->fileName != nullptr ||
         (out->serverHost != nullptr && out->serverPort != nullptr);
}

// ---- Filters -------------------------------------------------------------------------------

static char* copyText(const char* text, size_t length) {
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (copy != nullptr) {
    std::memcpy(copy, text, length);
    copy[length] = '\0';
  }
  return copy;
}

bool appendFilter(FilterList* list, bool include, const char* name) {
  if (list->count == list->capacity) {
    size_t capacity = list->capacity == 0 ? 8 : list->capacity * 2;
    Filter* items = static_cast<Filter*>(std::realloc(list->items, capacity * sizeof(Filter)));
    if (items == nullptr) return false;
    list->items = items;
    list->capacity = capacity;
  }
  size_t length = std::strlen(name);
  const char* start = name;
  const char* end = name + length;
  bool leading = length > 0 && *start == '*';
  if (leading) ++start;
  bool trailing = end > start && end[-1] == '*';
  if (trailing) --end;
  Filter f;
  f.include = include;
  f.name = copyText(name, length);
  f.needle = copyText(start, static_cast<size_t>(end - start));
  if (f.name == nullptr || f.needle == nullptr) {
    std::free(f.name);
    std::free(f.needle);
    return false;
  }
  f.needleLength = static_cast<size_t>(end - start);
  f.mode = leading && trailing ? MatchMode::Substring
           : leading           ? MatchMode::Suffix
           : trailing          ? MatchMode::Prefix
                               : MatchMode::Exact;
  list->items[list->count++] = f;
  return true;
}

void freeFilters(FilterList* list) {
  for (size_t i = 0; i < list->count; ++i) {
    std::free(list->items[i].name);
    std::free(list->items[i].needle);
  }
  std::free(list->items);
  *list = FilterList{};
}

namespace {

constexpr intptr_t kBlockSize = 2048;
constexpr size_t kMaxToken = 2047;

struct TokenReader {
  ReadBlock read;
  void* context;
  char block[kBlockSize];
  intptr_t length = 0;
  intptr_t position = 0;
  bool ended = false;
};

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The next character, or -1 at the end of the input.
int nextChar(TokenReader* r) {
  if (r->position == r->length) {
    if (r->ended) return -1;
    intptr_t n = r->read(r->context, r->block, kBlockSize);
    if (n <= 0) {  // -1 marks the end; an empty read cannot make progress either
      r->ended = true;
      return -1;
    }
    r->length = n;
    r->position = 0;
  }
  return static_cast<unsigned char>(r->block[r->position++]);
}

void pushBack(TokenReader* r) { --r->position; }

// Reads a token of at most kMaxToken characters after skipping white space; a longer run of
// characters is cut and its rest starts the next token. Empty at the end of the input.
void readToken(TokenReader* r, char token[kMaxToken + 1]) {
  int c;
  do {
    c = nextChar(r);
  } while (c != -1 && isBlank(static_cast<char>(c)));
  size_t n = 0;
  while (c != -1 && !isBlank(static_cast<char>(c))) {
    if (n == kMaxToken) {
      pushBack(r);
      break;
    }
    token[n++] = static_cast<char>(c);
    c = nextChar(r);
  }
  token[n] = '\0';
}

}  // namespace

bool readFilters(FilterList* list, ReadBlock read, void* context) {
  TokenReader* reader = new (std::nothrow) TokenReader{read, context, {}, 0, 0, false};
  char* sign = static_cast<char*>(std::malloc(2 * (kMaxToken + 1)));
  if (reader == nullptr || sign == nullptr) {
    delete reader;
    std::free(sign);
    return false;
  }
  char* name = sign + kMaxToken + 1;
  bool ok = true;
  for (;;) {
    readToken(reader, sign);
    bool include = std::strcmp(sign, "+") == 0;
    if (!include && std::strcmp(sign, "-") != 0) break;
    readToken(reader, name);
    if (!appendFilter(list, include, name)) {
      ok = false;
      break;
    }
  }
  delete reader;
  std::free(sign);
  return ok;
}

static bool filterMatches(const Filter& f, const char* className, size_t length) {
  if (std::strcmp(f.name, "*") == 0) return true;
  switch (f.mode) {
    case MatchMode::Exact:
      return length == f.needleLength && std::memcmp(className, f.needle, length) == 0;
    case MatchMode::Suffix:
      return length >= f.needleLength &&
             std::memcmp(className + length - f.needleLength, f.needle, f.needleLength) == 0;
    case MatchMode::Prefix:
      return length >= f.needleLength && std::memcmp(className, f.needle, f.needleLength) == 0;
    case MatchMode::Substring:
      return f.needleLength == 0 || std::strstr(className, f.needle) != nullptr;
  }
  return false;
}

bool classIncluded(const FilterList& list, const char* className) {
  if (className == nullptr) className = "";
  size_t length = std::strlen(className);
  for (size_t i = 0; i < list.count; ++i) {
    if (filterMatches(list.items[i], className, length)) return list.items[i].include;
  }
  return true;
}

// ---- Identifier sets -----------------------------------------------------------------------

static constexpr uintptr_t kTombstone = ~static_cast<uintptr_t>(0);

static size_t slotOf(uintptr_t id, size_t capacity) {
  uint64_t h = static_cast<uint64_t>(id) * 0x9E3779B97F4A7C15ull;
  return static_cast<size_t>(h >> 17) & (capacity - 1);
}

static bool idSetGrow(IdSet* set) {
  size_t capacity = set->capacity == 0 ? 64 : set->capacity * 2;
  if (set->used * 2 < set->capacity) capacity = set->capacity;  // mostly tombstones: rehash only
  uintptr_t* slots = static_cast<uintptr_t*>(std::calloc(capacity, sizeof(uintptr_t)));
  if (slots == nullptr) return false;
  for (size_t i = 0; i < set->capacity; ++i) {
    uintptr_t id = set->slots[i];
    if (id == 0 || id == kTombstone) continue;
    size_t s = slotOf(id, capacity);
    while (slots[s] != 0) s = (s + 1) & (capacity - 1);
    slots[s] = id;
  }
  std::free(set->slots);
  set->slots = slots;
  set->capacity = capacity;
  set->filled = set->used;
  return true;
}

bool idSetContains(const IdSet& set, uintptr_t id) {
  if (id == 0 || id == kTombstone || set.capacity == 0) return false;
  for (size_t s = slotOf(id, set.capacity);; s = (s + 1) & (set.capacity - 1)) {
    if (set.slots[s] == id) return true;
    if (set.slots[s] == 0) return false;
  }
}

bool idSetAdd(IdSet* set, uintptr_t id) {
  if (id == 0) return true;
  if (id == kTombstone) return true;  // not an object address; never stored
  if (idSetContains(*set, id)) return true;
  if ((set->filled + 1) * 4 > set->capacity * 3 && !idSetGrow(set)) return false;
  size_t s = slotOf(id, set->capacity);
  while (set->slots[s] != 0 && set->slots[s] != kTombstone) s = (s + 1) & (set->capacity - 1);
  if (set->slots[s] == 0) ++set->filled;
  set->slots[s] = id;
  ++set->used;
  return true;
}

bool idSetRemove(IdSet* set, uintptr_t id) {
  if (id == 0 || id == kTombstone || set->capacity == 0) return false;
  for (size_t s = slotOf(id, set->capacity);; s = (s + 1) & (set->capacity - 1)) {
    if (set->slots[s] == id) {
      set->slots[s] = kTombstone;
      --set->used;
      return true;
    }
    if (set->slots[s] == 0) return false;
  }
}

void idSetFree(IdSet* set) {
  std::free(set->slots);
  *set = IdSet{};
}

// ---- Time text -----------------------------------------------------------------------------

void formatTimeText(int64_t startMillis, uint64_t elapsedNanos, char out[kTimeTextSize]) {
  long long total = static_cast<long long>(startMillis) * 1000000LL + static_cast<long long>(elapsedNanos);
  std::snprintf(out, kTimeTextSize, "%lld.%09lld", total / 1000000000LL, total % 1000000000LL);
}

// ---- Hosts ---------------------------------------------------------------------------------

bool parseDottedQuad(const char* text, uint32_t* address) {
  uint32_t result = 0;
  const char* p = text;
  for (int group = 0; group < 4; ++group) {
    if (group > 0) {
      if (*p != '.') return false;
      ++p;
    }
    unsigned value = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9' && digits < 4) {
      value = value * 10 + static_cast<unsigned>(*p - '0');
      ++p;
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    result = (result << 8) | value;
  }
  if (*p != '\0') return false;
  *address = result;
  return true;
}

bool parsePort(const char* text, uint16_t* port) {
  if (text == nullptr || *text == '\0') return false;
  unsigned long value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + static_cast<unsigned long>(*p - '0');
    if (value > 65535) return false;
  }
  *port = static_cast<uint16_t>(value);
  return true;
}

// ---- XML records ---------------------------------------------------------------------------

static bool reserve(Record* r, size_t more) {
  if (r->failed) return false;
  if (r->length + more + 1 <= r->capacity) return true;
  size_t capacity = r->capacity * 2;
  while (capacity < r->length + more + 1) capacity *= 2;
  char* data = static_cast<char*>(std::malloc(capacity));
  if (data == nullptr) {
    r->failed = true;
    return false;
  }
  std::memcpy(data, r->data, r->length);
  if (r->data != r->inlineBuffer) std::free(r->data);
  r->data = data;
  r->capacity = capacity;
  return true;
}

static void append(Record* r, const char* text, size_t n) {
  if (!reserve(r, n)) return;
  std::memcpy(r->data + r->length, text, n);
  r->length += n;
  r->data[r->length] = '\0';
}

static void appendText(Record* r, const char* text) { append(r, text, std::strlen(text)); }

static void appendCodePoint(Record* r, uint32_t c) {
  char bytes[4];
  size_t n;
  if (c < 0x80) {
    bytes[0] = static_cast<char>(c);
    n = 1;
  } else if (c < 0x800) {
    bytes[0] = static_cast<char>(0xC0 | (c >> 6));
    bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
    n = 2;
  } else if (c < 0x10000) {
    bytes[0] = static_cast<char>(0xE0 | (c >> 12));
    bytes[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
    n = 3;
  } else {
    bytes[0] = static_cast<char>(0xF0 | (c >> 18));
    bytes[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    bytes[3] = static_cast<char>(0x80 | (c & 0x3F));
    n = 4;
  }
  append(r, bytes, n);
}

// Decodes one character of modified UTF-8 (the VM's form of names: NUL as two bytes,
// supplementary characters as surrogate pairs); 0xFFFD for a malformed sequence.
static uint32_t decodeOne(const unsigned char*& p) {
  unsigned char b = *p;
  if (b < 0x80) {
    ++p;
    return b;
  }
  int extra = (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
  if (extra < 0) {
    ++p;
    return 0xFFFD;
  }
  uint32_t c = b & (0x3F >> extra);
  for (int i = 1; i <= extra; ++i) {
    if ((p[i] & 0xC0) != 0x80) {
      p += i;
      return 0xFFFD;
    }
    c = (c << 6) | (p[i] & 0x3F);
  }
  p += extra + 1;
  return c;
}

static bool xmlChar(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

void recordBegin(Record* r, const char* element) {
  r->data = r->inlineBuffer;
  r->capacity = sizeof(r->inlineBuffer);
  r->length = 0;
  r->failed = false;
  r->data[0] = '\0';
  append(r, "<", 1);
  appendText(r, element);
}

void recordText(Record* r, const char* attribute, const char* value) {
  append(r, " ", 1);
  appendText(r, attribute);
  append(r, "=\"", 2);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(value != nullptr ? value : "");
  while (*p != '\0') {
    // Plain characters go in runs.
    const unsigned char* run = p;
    while (*p >= 0x20 && *p < 0x80 && *p != '&' && *p != '<' && *p != '>' && *p != '"') ++p;
    if (p != run) append(r, reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
    if (*p == '\0') break;
    uint32_t c = decodeOne(p);
    if (c >= 0xD800 && c <= 0xDBFF) {
      // A high surrogate joins the low surrogate that follows it.
      const unsigned char* q = p;
      uint32_t low = *q != '\0' ? decodeOne(q) : 0;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        p = q;
      }
    }
    switch (c) {
      case '&': appendText(r, "&amp;"); break;
      case '<': appendText(r, "&lt;"); break;
      case '>': appendText(r, "&gt;"); break;
      case '"': appendText(r, "&quot;"); break;
      case '\t': appendText(r, "&#9;"); break;
      case '\n': appendText(r, "&#10;"); break;
      case '\r': appendText(r, "&#13;"); break;
      default: appendCodePoint(r, xmlChar(c) ? c : 0xFFFD); break;
    }
  }
  append(r, "\"", 1);
}

void recordInt(Record* r, const char* attribute, int64_t value) {
  char digits[32];
  append(r, " ", 1);
  appendText(r, attribute);
  int n = std::snprintf(digits, sizeof(digits), "=\"%" PRId64 "\"", value);
  append(r, digits, static_cast<size_t>(n));
}

void recordEnd(Record* r) { append(r, " />\n", 4); }

void recordFree(Record* r) {
  if (r->data != r->inlineBuffer) std::free(r->data);
  r->data = r->inlineBuffer;
  r->capacity = sizeof(r->inlineBuffer);
  r->length = 0;
}

}  // namespace xt
