// Record memory. Java keeps a record's address as a 32-bit int, so records are carved from a
// region mapped in the low 2 GB of the address space. Freed blocks are kept on lists by size
// and handed out again.
#include <sys/mman.h>

#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "hvl.h"

namespace {

const size_t regionSize = size_t(256) << 20;
const size_t headerSize = 16;  // the block's size, keeping records 16-byte aligned

std::mutex lock;
char* region = nullptr;
size_t used = 0;
bool mapFailed = false;
std::map<size_t, std::vector<char*>> freeBlocks;

bool ensureRegion() {
  if (region) return true;
  if (mapFailed) return false;
  void* memory = mmap(nullptr, regionSize, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_32BIT, -1, 0);
  if (memory == MAP_FAILED || reinterpret_cast<uintptr_t>(memory) + regionSize > 0x80000000u) {
    if (memory != MAP_FAILED) munmap(memory, regionSize);
    mapFailed = true;
    return false;
  }
  region = static_cast<char*>(memory);
  return true;
}

}  // namespace

HVL_EXPORT void* hvlAllocate(size_t size) {
  size_t rounded = (size + 15) & ~size_t(15);
  if (rounded == 0) rounded = 16;
  std::lock_guard<std::mutex> guard(lock);
  char* block;
  auto& list = freeBlocks[rounded];
  if (!list.empty()) {
    block = list.back();
    list.pop_back();
  } else {
    if (!ensureRegion() || used + headerSize + rounded > regionSize) return nullptr;
    block = region + used;
    used += headerSize + rounded;
    std::memcpy(block, &rounded, sizeof rounded);
  }
  std::memset(block + headerSize, 0, rounded);
  return block + headerSize;
}

HVL_EXPORT void hvlFree(void* record) {
  if (!record) return;
  char* block = static_cast<char*>(record) - headerSize;
  size_t rounded;
  std::memcpy(&rounded, block, sizeof rounded);
  std::memset(record, 0xDD, rounded);  // a stale handle reads garbage, not the old record
  std::lock_guard<std::mutex> guard(lock);
  freeBlocks[rounded].push_back(block);
}
