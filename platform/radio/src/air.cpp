// The air's text form and where the current air comes from (the file or the control interface).
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "radio_internal.h"
#include "vork/radio.h"
#include "vork/radio_control.h"
#include "vork/text.h"

namespace vork::radio {

bool Address::operator==(const Address& other) const {
  return std::equal(bytes, bytes + 6, other.bytes);
}

const Attribute* ServiceRecord::find(uint16_t id) const {
  auto at = std::lower_bound(attributes.begin(), attributes.end(), id,
                             [](const Attribute& a, uint16_t wanted) { return a.id < wanted; });
  return at != attributes.end() && at->id == id ? &*at : nullptr;
}

const Device* Air::find(const Address& address) const {
  for (const Device& device : devices)
    if (device.address == address) return &device;
  return nullptr;
}

namespace {

// ---- Reading the text form -------------------------------------------------------------------

struct Token {
  std::string text;
  bool quoted = false;  // the token was (or ended in) a quoted string
};

bool hexValue(char c, unsigned& v);

// Splits a line into tokens: blanks separate, "(" and ")" stand alone, "..." quotes (with \",
// \\ and \xHH), and # starts a comment.
bool tokenize(const std::string& line, std::vector<Token>& tokens, std::string& problem) {
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (std::isspace(static_cast<unsigned char>(c))) { ++i; continue; }
    if (c == '#') break;
    if (c == '(' || c == ')') {
      tokens.push_back({std::string(1, c), false});
      ++i;
      continue;
    }
    Token token;
    while (i < line.size()) {
      c = line[i];
      if (std::isspace(static_cast<unsigned char>(c)) || c == '(' || c == ')') break;
      if (c == '"') {
        ++i;
        bool closed = false;
        while (i < line.size()) {
          c = line[i++];
          if (c == '"') { closed = true; break; }
          if (c == '\\' && i < line.size()) {
            c = line[i++];
            unsigned high, low;
            // \xHH is the byte HH (names in another code page, for instance).
            if (c == 'x' && i + 1 < line.size() && hexValue(line[i], high) && hexValue(line[i + 1], low)) {
              c = static_cast<char>(high << 4 | low);
              i += 2;
            }
          }
          token.text += c;
        }
        if (!closed) { problem = "unterminated quote"; return false; }
        token.quoted = true;
        continue;
      }
      token.text += c;
      ++i;
    }
    tokens.push_back(token);
  }
  return true;
}

bool parseNumber(const std::string& text, int64_t& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  bool negative = text[0] == '-';
  if (negative) {
    long long v = std::strtoll(text.c_str(), &end, 0);
    value = v;
  } else {
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    value = static_cast<int64_t>(v);
  }
  return errno == 0 && end && *end == 0;
}

bool parseUnsigned(const std::string& text, unsigned& value) {
  int64_t v;
  if (!parseNumber(text, v) || v < 0 || v > 0x7FFFFFFF) return false;
  value = static_cast<unsigned>(v);
  return true;
}

bool hexValue(char c, unsigned& v) {
  if (c >= '0' && c <= '9') v = c - '0';
  else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
  else return false;
  return true;
}

// Hex digits (other characters given in `skip` are ignored) into exactly `count` bytes.
bool parseHexBytes(const std::string& text, size_t count, const char* skip, uint8_t* out) {
  size_t n = 0;
  unsigned high = 0;
  bool half = false;
  for (char c : text) {
    unsigned v;
    if (std::strchr(skip, c) && c) continue;
    if (!hexValue(c, v)) return false;
    if (!half) { high = v; half = true; continue; }
    if (n == count) return false;
    out[n++] = static_cast<uint8_t>(high << 4 | v);
    half = false;
  }
  return !half && n == count;
}

bool parseAddressText(const std::string& text, Address& address) {
  if (text.size() != 17) return false;
  for (size_t i = 2; i < 17; i += 3)
    if (text[i] != ':') return false;
  return parseHexBytes(text, 6, ":", address.bytes);
}

bool parseElement(const std::vector<Token>& tokens, size_t& i, Element& element, std::string& problem,
                  int depth = 0) {
  if (i >= tokens.size()) { problem = "element expected"; return false; }
  const Token& token = tokens[i++];
  if (token.text == "(" && !token.quoted) {
    if (depth > 16) { problem = "sequences nested too deep"; return false; }
    element.type = ElementType::Sequence;
    while (true) {
      if (i >= tokens.size()) { problem = "missing )"; return false; }
      if (tokens[i].text == ")" && !tokens[i].quoted) { ++i; return true; }
      Element item;
      if (!parseElement(tokens, i, item, problem, depth + 1)) return false;
      element.items.push_back(std::move(item));
    }
  }
  size_t colon = token.text.find(':');
  if (colon == std::string::npos) { problem = "element without a type: " + token.text; return false; }
  std::string type = token.text.substr(0, colon);
  std::string value = token.text.substr(colon + 1);
  struct Sized { const char* name; ElementType type; unsigned size; };
  static const Sized numbers[] = {
      {"u8", ElementType::UInt, 1},  {"u16", ElementType::UInt, 2}, {"u32", ElementType::UInt, 4},
      {"u64", ElementType::UInt, 8}, {"i8", ElementType::Int, 1},   {"i16", ElementType::Int, 2},
      {"i32", ElementType::Int, 4},  {"i64", ElementType::Int, 8},  {"uuid16", ElementType::Uuid, 2},
      {"uuid32", ElementType::Uuid, 4}};
  for (const Sized& sized : numbers) {
    if (type != sized.name) continue;
    int64_t v;
    std::string digits = value;
    if (sized.type == ElementType::Uuid && digits.rfind("0x", 0) != 0) digits = "0x" + digits;
    if (!parseNumber(digits, v)) { problem = "bad number: " + value; return false; }
    element.type = sized.type;
    element.size = sized.size;
    uint64_t mask = sized.size == 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * sized.size)) - 1;
    element.number = static_cast<uint64_t>(v) & mask;
    return true;
  }
  if (type == "uuid128") {
    element.type = ElementType::Uuid;
    element.size = 16;
    element.bytes.resize(16);
    if (!parseHexBytes(value, 16, "-", element.bytes.data())) { problem = "bad uuid128: " + value; return false; }
    return true;
  }
  if (type == "text") {
    element.type = ElementType::Text;
    element.bytes.assign(value.begin(), value.end());
    element.size = static_cast<unsigned>(value.size());
    return true;
  }
  if (type == "bool") {
    element.type = ElementType::Bool;
    element.size = 1;
    if (value == "true" || value == "1") element.number = 1;
    else if (value == "false" || value == "0") element.number = 0;
    else { problem = "bad bool: " + value; return false; }
    return true;
  }
  problem = "unknown element type: " + type;
  return false;
}

bool parseOutcome(const std::string& text, Outcome& outcome) {
  if (text == "complete") outcome = Outcome::Complete;
  else if (text == "fail") outcome = Outcome::Fail;
  else if (text == "never") outcome = Outcome::Never;
  else return false;
  return true;
}

bool parseLine(const std::vector<Token>& t, Air& air, Device** lastDevice, ServiceRecord** lastRecord,
               std::string& problem) {
  const std::string& word = t[0].text;
  if (word == "local") {
    if (t.size() < 2 || !parseAddressText(t[1].text, air.localAddress)) { problem = "local: address expected"; return false; }
    if (t.size() > 2) air.localName = t[2].text;
    return t.size() <= 3 || (problem = "local: too many words", false);
  }
  if (word == "inquiry" || word == "discovery") {
    Outcome outcome;
    unsigned ms = word == "inquiry" ? air.inquiryMs : air.discoveryMs;
    if (t.size() < 2 || !parseOutcome(t[1].text, outcome)) { problem = word + ": complete, fail or never expected"; return false; }
    if (t.size() > 2 && !parseUnsigned(t[2].text, ms)) { problem = word + ": bad time"; return false; }
    if (word == "inquiry") { air.inquiry = outcome; air.inquiryMs = ms; }
    else { air.discovery = outcome; air.discoveryMs = ms; }
    return true;
  }
  if (word == "status") {
    static const char* names[] = {"down", "up", "error", "unloaded", "reloaded"};
    if (t.size() != 2) { problem = "status: one word expected"; return false; }
    for (int i = 0; i < 5; ++i)
      if (t[1].text == names[i]) { air.status = i; return true; }
    int64_t v;
    if (parseNumber(t[1].text, v) && v >= 0 && v < 1000) { air.status = static_cast<int>(v); return true; }
    problem = "status: unknown status " + t[1].text;
    return false;
  }
  if (word == "device") {
    Device device;
    if (t.size() < 2 || !parseAddressText(t[1].text, device.address)) { problem = "device: address expected"; return false; }
    size_t i = 2;
    if (i < t.size() && t[i].quoted) device.name = t[i++].text;
    while (i < t.size()) {
      const std::string& key = t[i].text;
      if (i + 1 >= t.size()) { problem = "device: value missing after " + key; return false; }
      const std::string& value = t[i + 1].text;
      bool ok;
      if (key == "name") { device.name = value; ok = true; }
      else if (key == "class") ok = value.size() == 6 && parseHexBytes(value, 3, "", device.deviceClass);
      else if (key == "after") ok = parseUnsigned(value, device.firstResponseMs);
      else if (key == "responses") ok = parseUnsigned(value, device.responses);
      else if (key == "every") ok = parseUnsigned(value, device.intervalMs);
      else if (key == "rssi") {
        int64_t v;
        ok = parseNumber(value, v) && v >= INT32_MIN && v <= INT32_MAX;
        device.rssi = static_cast<int32_t>(v);
        device.linked = ok;
      } else { problem = "device: unknown word " + key; return false; }
      if (!ok) { problem = "device: bad value for " + key + ": " + value; return false; }
      i += 2;
    }
    if (air.find(device.address)) { problem = "device: address given twice"; return false; }
    air.devices.push_back(std::move(device));
    *lastDevice = &air.devices.back();
    *lastRecord = nullptr;
    return true;
  }
  if (word == "service") {
    if (!*lastDevice) { problem = "service: no device before it"; return false; }
    if (t.size() != 1) { problem = "service: no words expected"; return false; }
    auto record = std::make_shared<ServiceRecord>();
    *lastRecord = record.get();
    (*lastDevice)->records.push_back(std::move(record));
    return true;
  }
  if (word == "attribute") {
    if (!*lastRecord) { problem = "attribute: no service before it"; return false; }
    int64_t id;
    if (t.size() < 3 || !parseNumber(t[1].text, id) || id < 0 || id > 0xFFFF) { problem = "attribute: id expected"; return false; }
    Attribute attribute;
    attribute.id = static_cast<uint16_t>(id);
    size_t i = 2;
    if (!parseElement(t, i, attribute.value, problem)) return false;
    if (i != t.size()) { problem = "attribute: one element expected (use ( ... ) for several)"; return false; }
    auto& list = (*lastRecord)->attributes;
    auto at = std::lower_bound(list.begin(), list.end(), attribute.id,
                               [](const Attribute& a, uint16_t wanted) { return a.id < wanted; });
    if (at != list.end() && at->id == attribute.id) { problem = "attribute: id given twice"; return false; }
    list.insert(at, std::move(attribute));
    return true;
  }
  problem = "unknown line: " + word;
  return false;
}

}  // namespace

Air parseAir(const std::string& text, std::vector<std::string>* problems) {
  Air air;
  Device* lastDevice = nullptr;
  ServiceRecord* lastRecord = nullptr;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::vector<Token> tokens;
    std::string problem;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    bool ok = tokenize(line, tokens, problem);
    if (ok && tokens.empty()) continue;
    // Only a device line adds to the devices (and then points lastDevice at the new one).
    if (ok) ok = parseLine(tokens, air, &lastDevice, &lastRecord, problem);
    if (!ok && problems) problems->push_back("line " + std::to_string(number) + ": " + problem);
  }
  return air;
}

// ---- The current air -------------------------------------------------------------------------

namespace {

struct AirState {
  std::mutex lock;
  std::shared_ptr<const Air> air = std::make_shared<Air>();
  bool controlled = false;
  bool fileSeen = false;
  struct timespec mtime {};
  off_t size = -1;
  ino_t inode = 0;
};

AirState& airState() {
  static AirState* state = new AirState;  // lives as long as the stack threads may use it
  return *state;
}

void reportProblems(const char* source, const std::vector<std::string>& problems) {
  for (const std::string& problem : problems) std::fprintf(stderr, "%s: %s\n", source, problem.c_str());
}

}  // namespace

std::string airFilePath() { return deviceRoot() + "/bluetooth/air.txt"; }

std::shared_ptr<const Air> currentAir() {
  AirState& state = airState();
  std::shared_ptr<const Air> air;
  int newStatus = -1;
  {
    std::lock_guard<std::mutex> guard(state.lock);
    if (!state.controlled) {
      std::string path = airFilePath();
      struct stat info {};
      bool exists = ::stat(path.c_str(), &info) == 0;
      bool changed = exists != state.fileSeen ||
                     (exists && (info.st_mtim.tv_sec != state.mtime.tv_sec ||
                                 info.st_mtim.tv_nsec != state.mtime.tv_nsec ||
                                 info.st_size != state.size || info.st_ino != state.inode));
      if (changed) {
        Air fresh;
        if (exists) {
          std::ifstream file(path, std::ios::binary);
          std::stringstream text;
          text << file.rdbuf();
          std::vector<std::string> problems;
          fresh = parseAir(text.str(), &problems);
          reportProblems(path.c_str(), problems);
          state.mtime = info.st_mtim;
          state.size = info.st_size;
          state.inode = info.st_ino;
        }
        state.fileSeen = exists;
        if (fresh.status != state.air->status) newStatus = fresh.status;
        state.air = std::make_shared<const Air>(std::move(fresh));
      }
    }
    air = state.air;
  }
  if (newStatus >= 0) queueStatus(newStatus);
  return air;
}

}  // namespace vork::radio

using namespace vork::radio;

extern "C" int VorkRadio_Configure(const char* text) {
  std::vector<std::string> problems;
  Air air = parseAir(text ? text : "", &problems);
  reportProblems("air", problems);
  AirState& state = airState();
  int newStatus = -1;
  {
    std::lock_guard<std::mutex> guard(state.lock);
    if (air.status != state.air->status) newStatus = air.status;
    state.controlled = true;
    state.air = std::make_shared<const Air>(std::move(air));
  }
  if (newStatus >= 0) queueStatus(newStatus);
  return static_cast<int>(problems.size());
}

extern "C" void VorkRadio_UseFile() {
  AirState& state = airState();
  std::lock_guard<std::mutex> guard(state.lock);
  state.controlled = false;
  state.fileSeen = false;
  state.size = -1;
  state.air = std::make_shared<Air>();
}
