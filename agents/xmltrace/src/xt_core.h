// The VM-independent core of the XML trace profiler: options, filters, identifier sets, the
// time text, host addresses and the XML record writer. The agent glue (agent.cpp) joins them
// to the VM's port library and the JVMPI interface.
#pragma once

#include <cstddef>
#include <cstdint>

namespace xt {

// ---- Options -------------------------------------------------------------------------------

struct ProfileOptions {
  bool help = false;
  bool filtersHelp = false;
  bool quiet = false;
  bool toStderr = false;
  const char* fileName = nullptr;
  const char* serverHost = nullptr;
  const char* serverPort = nullptr;
  const char* filtersFile = "filters.txt";
  bool noMemoryEvents = false;     // mode=execution
  bool noExecutionEvents = false;  // mode=memory
};

// Parses the option string in place: `copy` is the agent's private copy, split at its commas;
// the text fields of `out` point into it. False for an unknown option or when no output
// (nor a help request) was chosen.
bool parseOptions(char* copy, ProfileOptions* out);

extern const char* const kOptionsText;
extern const char* const kFiltersText;

// ---- Filters -------------------------------------------------------------------------------

enum class MatchMode { Exact, Suffix, Prefix, Substring };

struct Filter {
  bool include;
  char* name;    // as written in the file
  char* needle;  // the name without a leading and a trailing '*'
  size_t needleLength;
  MatchMode mode;
};

struct FilterList {
  Filter* items = nullptr;
  size_t count = 0;
  size_t capacity = 0;
};

// Reads up to `size` bytes into `buffer`; answers the count, or -1 at the end of the input.
using ReadBlock = intptr_t (*)(void* context, char* buffer, intptr_t size);

// Appends the filters read from the input. False only when memory runs out.
bool readFilters(FilterList* list, ReadBlock read, void* context);
bool appendFilter(FilterList* list, bool include, const char* name);
void freeFilters(FilterList* list);
// True when the class (internal name with '/' separators) is to be traced.
bool classIncluded(const FilterList& list, const char* className);

// ---- Identifier sets -----------------------------------------------------------------------

// A hashed set of non-zero identifiers (pointer-wide, so ids never get truncated).
struct IdSet {
  uintptr_t* slots = nullptr;  // 0 = empty, kTombstone = removed
  size_t capacity = 0;         // power of two
  size_t used = 0;             // live entries
  size_t filled = 0;           // live entries and tombstones
};

bool idSetAdd(IdSet* set, uintptr_t id);  // false only when memory runs out
bool idSetContains(const IdSet& set, uintptr_t id);
bool idSetRemove(IdSet* set, uintptr_t id);  // true when it was present
void idSetFree(IdSet* set);

// ---- Time text -----------------------------------------------------------------------------

constexpr size_t kTimeTextSize = 25;
// "<seconds>.<nine digits>" of the wall-clock start plus the nanoseconds elapsed since.
void formatTimeText(int64_t startMillis, uint64_t elapsedNanos, char out[kTimeTextSize]);

// ---- Hosts ---------------------------------------------------------------------------------

// True when the text is four groups of one to three decimal digits (each at most 255)
// separated by dots; the address comes back in host byte order, first group most significant.
bool parseDottedQuad(const char* text, uint32_t* address);
// The decimal port text as a number; false when it is no number from 0 to 65535.
bool parsePort(const char* text, uint16_t* port);

// ---- XML records ---------------------------------------------------------------------------

// One record line being built. Starts in the inline buffer and moves to the heap when a
// record is longer; `failed` is set when memory runs out (the record is then dropped).
struct Record {
  char inlineBuffer[512];
  char* data = inlineBuffer;
  size_t length = 0;
  size_t capacity = sizeof(inlineBuffer);
  bool failed = false;
};

void recordBegin(Record* r, const char* element);
// A text value: escaped for an attribute (& < > "), line ends and tabs as character
// references, modified UTF-8 turned into well-formed UTF-8; a null text is an empty value.
void recordText(Record* r, const char* attribute, const char* value);
void recordInt(Record* r, const char* attribute, int64_t value);
void recordEnd(Record* r);  // " />" and a line feed
void recordFree(Record* r);

}  // namespace xt
