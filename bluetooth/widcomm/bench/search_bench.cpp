// What a service search costs per discovered record: the UUID test looks up every attribute id
// from 0 to 0xFFFE of a record that does not match (the worst case), and stops early in one
// that does.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "discovered_records.h"

using namespace btce;

namespace {

// 32 serial-port records with a typical set of attributes.
std::string meterAir() {
  std::string air = "discovery complete 1\ndevice 00:0A:3A:11:22:33 \"Meter\"\n";
  for (int i = 0; i < 32; ++i) {
    air += "service\nattribute 0 u32:" + std::to_string(0x10000 + i) +
           "\nattribute 1 ( uuid16:0x1101 )\nattribute 4 ( ( uuid16:0x0100 ) ( uuid16:0x0003 u8:" +
           std::to_string(i + 1) + " ) )\nattribute 5 ( uuid16:0x1002 )\n"
           "attribute 9 ( ( uuid16:0x1101 u16:0x0100 ) )\nattribute 0x100 text:\"Serial Port " +
           std::to_string(i) + "\"\n";
  }
  return air;
}

DiscoveredRecords& found() {
  static DiscoveredRecords instance(meterAir().c_str());
  return instance;
}

void runSearch(benchmark::State& state, std::vector<Uuid128> wanted) {
  DiscoveredRecords& f = found();
  SDP_DISC_ATTTR_VAL scratch;
  for (auto _ : state) {
    int matched = 0;
    for (int r = 0; r < f.count; ++r) matched += recordHasUuids(f.records[r], wanted, scratch);
    benchmark::DoNotOptimize(matched);
  }
  state.SetItemsProcessed(state.iterations() * f.count);
  state.counters["records"] = f.count;
}

// Every record lacks the wanted UUID: 65535 lookups each.
void BM_SearchOf32RecordsNoMatch(benchmark::State& state) { runSearch(state, {shortUuid(0x1105)}); }
// Every record has the serial-port UUID in attribute 1: the test stops there.
void BM_SearchOf32RecordsMatch(benchmark::State& state) { runSearch(state, {shortUuid(0x1101)}); }
// Two UUIDs, the second only in the protocol list (attribute 4).
void BM_SearchOf32RecordsTwoUuids(benchmark::State& state) {
  runSearch(state, {shortUuid(0x1101), shortUuid(0x0003)});
}

}  // namespace

BENCHMARK(BM_SearchOf32RecordsNoMatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchOf32RecordsMatch)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SearchOf32RecordsTwoUuids)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
