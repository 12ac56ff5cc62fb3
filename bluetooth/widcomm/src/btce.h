// The handheld library's process-wide state and its stack adapter over the Widcomm SDK.
#pragma once

#include <jni.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "BtSdkCE.h"
#include "windows.h"

namespace btce {

// The stack interface with the library's notification handlers. The SDK calls them on its own
// threads; they only update the flags and the device table and signal the events.
class StackAdapter : public CBtIf {
 public:
  StackAdapter(JavaVM* vm, jobject classResolver);
  ~StackAdapter() override;

  void OnStackStatusChange(STACK_STATUS newStatus) override;
  void OnInquiryComplete(BOOL success, short responses) override;
  void OnDeviceResponded(BD_ADDR address, DEV_CLASS deviceClass, BD_NAME name, BOOL connected) override;
  void OnDiscoveryComplete() override;

  // Signals the event if it exists (under eventLock, so it is never signalled after closing).
  void signalInquiry();
  void signalDiscovery();

  std::atomic<int> inquiryIdle{1};
  std::atomic<int> discoveryIdle{1};
  std::atomic<int> resultCount{0};
  JavaVM* vm;
  jobject classResolver;
  std::mutex eventLock;  // guards the two event handles
  HANDLE inquiryEvent = nullptr;
  HANDLE discoveryEvent = nullptr;
  std::atomic<bool> retiring{false};
};

// One inquiry result: 257 bytes as the stack reports them.
struct DeviceEntry {
  UINT8 address[6];
  char name[248];
  UINT8 deviceClass[3];
};
static_assert(sizeof(DeviceEntry) == 257, "device table entry");

constexpr int kDeviceTableSize = 64;

struct State {
  std::mutex openLock;
  std::atomic<bool> open{false};       // the open step has run (the plain export or hciOpenDevice)
  std::atomic<bool> javaReady{false};  // hciOpenDevice has completed
  std::shared_ptr<StackAdapter> adapter;  // read and replaced through adapter() / replaceAdapter()
  HANDLE searchLock = nullptr;
  HANDLE connectionLock = nullptr;
  unsigned guidSeed = 0;
  char localAddressText[18] = {};
  std::mutex tableLock;  // appending to the device table
  DeviceEntry deviceTable[kDeviceTableSize] = {};
};

State& state();
std::shared_ptr<StackAdapter> adapter();
void replaceAdapter(std::shared_ptr<StackAdapter> fresh);

// The open step: creates the adapter, reads the local device, starts and stops an inquiry.
void openStack();

// Inquiry (inquiry.cpp).
int runInquiry(JNIEnv* env, StackAdapter& adapter);
void cancelInquiry(StackAdapter& adapter);
// Index of the address among the current results, or -1.
int findDevice(const UINT8 address[6]);

}  // namespace btce
