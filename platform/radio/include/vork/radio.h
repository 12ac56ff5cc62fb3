// The simulated air that the substitute Bluetooth stacks share: the local radio, the remote
// devices in range with their names, classes, responses and service records, and what
// inquiries, discoveries and the stack itself do. Not part of any device API: the stack
// substitutes (Widcomm, and later the desktop stacks) build on it.
//
// The air comes from <device root>/bluetooth/air.txt (read again whenever it changes) unless
// a test has configured it through the control interface (vork/radio_control.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vork::radio {

// ---- Service records -------------------------------------------------------------------------
enum class ElementType { UInt, Int, Uuid, Text, Bool, Sequence };

// One SDP data element. Numbers and 2- or 4-byte UUIDs are in `number`; 16-byte UUIDs and
// texts are in `bytes` (UUIDs most significant byte first); sequences hold `items`.
struct Element {
  ElementType type = ElementType::UInt;
  unsigned size = 0;  // bytes of the value (1, 2, 4, 8 or 16; the text length; 1 for a bool)
  uint64_t number = 0;
  std::vector<uint8_t> bytes;
  std::vector<Element> items;
};

struct Attribute {
  uint16_t id = 0;
  Element value;
};

// Attributes sorted by id, each id once.
struct ServiceRecord {
  std::vector<Attribute> attributes;
  // The attribute with this id, or null.
  const Attribute* find(uint16_t id) const;
};

// ---- Devices and the air ---------------------------------------------------------------------
struct Address {
  uint8_t bytes[6] = {0, 0, 0, 0, 0, 0};  // most significant first
  bool operator==(const Address& other) const;
};

struct Device {
  Address address;
  std::string name;
  uint8_t deviceClass[3] = {0, 0, 0};
  unsigned firstResponseMs = 100;  // device milliseconds after the inquiry started
  unsigned responses = 1;          // how often it answers one inquiry
  unsigned intervalMs = 100;       // between its answers
  bool linked = false;             // a link exists (connection statistics available)
  int32_t rssi = 0;                // signal strength the stack reports for the link
  std::vector<std::shared_ptr<const ServiceRecord>> records;
};

enum class Outcome { Complete, Fail, Never };

enum StackStatus { StatusDown = 0, StatusUp = 1, StatusError = 2, StatusUnloaded = 3, StatusReloaded = 4 };

struct Air {
  Address localAddress;
  std::string localName = "Pocket PC";
  Outcome inquiry = Outcome::Complete;
  unsigned inquiryMs = 500;  // an inquiry completes this long after its start
  Outcome discovery = Outcome::Complete;
  unsigned discoveryMs = 50;  // a discovery completes this long after its start
  int status = StatusUp;
  std::vector<Device> devices;
  const Device* find(const Address& address) const;
};

// Parses the air's text form. Lines that cannot be read are reported through `problems` (one
// text per line, with its line number) and skipped.
Air parseAir(const std::string& text, std::vector<std::string>* problems);

// The current air (reads the file again when it changed).
std::shared_ptr<const Air> currentAir();

// ---- Activities ------------------------------------------------------------------------------
// An inquiry or discovery runs on a thread of its own (the stack's thread) and calls back from
// there. stop() ends it: no callback runs after stop() returns, except when it is called from
// the activity's own callback.
struct Activity;
void stop(Activity* activity);  // also frees it; null is accepted

struct InquiryCallbacks {
  std::function<void(const Device&)> responded;
  std::function<void(bool success, int responses)> completed;
};
// Null when the air makes inquiries fail to start.
Activity* startInquiry(InquiryCallbacks callbacks);

// Records found by a discovery of the address (none when no such device is in the air).
typedef std::vector<std::shared_ptr<const ServiceRecord>> Records;
// Null when the air makes discoveries fail to start.
Activity* startDiscovery(const Address& address, std::function<void(const Records&)> completed);

// ---- Stack status ----------------------------------------------------------------------------
// Status changes are delivered on the radio's own status thread, one at a time.
int subscribeStatus(std::function<void(int status)> changed);
// After it returns the callback is no longer running (unless called from within it).
void unsubscribeStatus(int subscription);

// ---- Counters for tests ----------------------------------------------------------------------
void count(const char* what);
long counter(const char* what);

}  // namespace vork::radio
