// The SDP records of the meter 00:0A:3A:11:22:33 as the simulated stack discovers them from a
// given air, for the tests and the benchmark of the UUID test and the element encoding.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "sdp.h"
#include "vork/radio_control.h"

namespace btce {

struct DiscoveredRecords {
  struct Stack : CBtIf {
    std::atomic<bool> done{false};
    ~Stack() override { StopNotifications(); }
    void OnDiscoveryComplete() override { done = true; }
  } stack;
  CSdpDiscoveryRec records[32];
  int count = 0;
  bool started = false;

  explicit DiscoveredRecords(const char* air) {
    VorkRadio_Configure(air);
    BD_ADDR meter = {0x00, 0x0A, 0x3A, 0x11, 0x22, 0x33};
    started = stack.StartDiscovery(meter, nullptr);
    for (int i = 0; i < 400 && started && !stack.done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    count = stack.ReadDiscoveryRecords(meter, 32, records);
  }
};

// A requested UUID given as a 16- or 32-bit value.
inline Uuid128 shortUuid(uint32_t value) {
  uint8_t bytes[4] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
  return requestedUuid(bytes, 4);
}

}  // namespace btce
