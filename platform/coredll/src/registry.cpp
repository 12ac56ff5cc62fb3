// The device registry, kept in <device root>/registry.reg as REGEDIT4 text (UTF-8). It is
// read on first use and again whenever the file has changed on disk since, and written back
// after each change, under a lock file so that processes sharing the device do not mix up
// their changes.
#include <sys/file.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "vork/control.h"
#include "vork/core_internal.h"
#include "vork/text.h"
#include "windows.h"

using namespace vork;

namespace {

struct Value {
  std::u16string name;  // as given; "" is the default value
  DWORD type;
  std::vector<BYTE> data;
};

struct Key {
  std::u16string path;  // full path as first created, "HKEY_LOCAL_MACHINE\..."
  std::vector<Value> values;
};

struct Registry {
  std::mutex lock;
  bool loaded = false;
  struct timespec mtime {};
  off_t size = -1;
  ino_t inode = 0;
  std::map<std::u16string, Key> keys;  // by lower-cased path
  std::set<std::u16string*> openKeys;  // HKEYs handed out: each a lower-cased full path
};

Registry registry;

std::u16string lower(const std::u16string& text) {
  std::u16string out = text;
  for (char16_t& c : out) {
    if (c < 0x80) c = static_cast<char16_t>(std::tolower(c));
    else if (c >= 0xC0 && c <= 0xDE && c != 0xD7) c = static_cast<char16_t>(c + 0x20);
  }
  return out;
}

std::string registryFile() { return deviceRoot() + "/registry.reg"; }

// The key at a full path, created with every missing key above it.
Key& ensureKey(const std::u16string& path) {
  Key* key = nullptr;
  for (size_t at = path.find(u'\\');; at = path.find(u'\\', at + 1)) {
    std::u16string prefix = at == std::u16string::npos ? path : path.substr(0, at);
    key = &registry.keys[lower(prefix)];
    if (key->path.empty()) key->path = prefix;
    if (at == std::u16string::npos) break;
  }
  return *key;
}

// ---- Reading REGEDIT4 text --------------------------------------------------------------------

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parseHexBytes(const std::string& text, std::vector<BYTE>& out) {
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == ',' || text[i] == '\t')) ++i;
    if (i >= text.size()) break;
    if (i + 1 >= text.size()) return false;
    int high = hexDigit(text[i]), low = hexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    out.push_back(static_cast<BYTE>(high * 16 + low));
    i += 2;
  }
  return true;
}

// Reads a quoted string at text[i] (at the opening quote); i ends after the closing quote.
bool parseQuoted(const std::string& text, size_t& i, std::string& out) {
  if (i >= text.size() || text[i] != '"') return false;
  for (++i; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\' && i + 1 < text.size()) {
      out += text[++i];
    } else if (c == '"') {
      ++i;
      return true;
    } else {
      out += c;
    }
  }
  return false;
}

std::vector<BYTE> stringBytes(const std::u16string& text) {
  std::vector<BYTE> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<BYTE>(c & 0xFF));
    bytes.push_back(static_cast<BYTE>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

bool parseValueLine(const std::string& line, Value& value) {
  size_t i = 0;
  std::string name;
  if (line[0] == '@') {
    i = 1;
  } else if (!parseQuoted(line, i, name)) {
    return false;
  }
  if (i >= line.size() || line[i] != '=') return false;
  ++i;
  value.name = utf16FromUtf8(name);
  std::string rest = line.substr(i);
  if (!rest.empty() && rest[0] == '"') {
    size_t j = 0;
    std::string text;
    if (!parseQuoted(rest, j, text)) return false;
    value.type = REG_SZ;
    value.data = stringBytes(utf16FromUtf8(text));
    return true;
  }
  if (rest.compare(0, 6, "dword:") == 0) {
    std::string digits = rest.substr(6);
    if (digits.empty() || digits.size() > 8) return false;
    DWORD number = 0;
    for (char c : digits) {
      int d = hexDigit(c);
      if (d < 0) return false;
      number = number * 16 + static_cast<DWORD>(d);
    }
    value.type = REG_DWORD;
    value.data = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                  static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
    return true;
  }
  if (rest.compare(0, 4, "hex:") == 0) {
    value.type = REG_BINARY;
    return parseHexBytes(rest.substr(4), value.data);
  }
  if (rest.compare(0, 4, "hex(") == 0) {
    size_t close = rest.find("):");
    if (close == std::string::npos) return false;
    value.type = static_cast<DWORD>(std::strtoul(rest.substr(4, close - 4).c_str(), nullptr, 16));
    return parseHexBytes(rest.substr(close + 2), value.data);
  }
  return false;
}

void parseRegistry(const std::string& text) {
  registry.keys.clear();
  std::istringstream in(text);
  std::string raw, line;
  Key* current = nullptr;
  int number = 0;
  while (std::getline(in, raw)) {
    ++number;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    line += raw;
    if (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos) {
      line.pop_back();  // continued hex list
      continue;
    }
    size_t start = line.find_first_not_of(" \t");
    std::string entry = start == std::string::npos ? "" : line.substr(start);
    line.clear();
    if (entry.empty() || entry[0] == ';' || entry == "REGEDIT4" ||
        entry.compare(0, 34, "Windows Registry Editor Version 5") == 0) {
      continue;
    }
    if (entry[0] == '[') {
      size_t end = entry.rfind(']');
      if (end == std::string::npos) {
        std::fprintf(stderr, "registry.reg:%d: unreadable key line ignored\n", number);
        current = nullptr;
        continue;
      }
      current = &ensureKey(utf16FromUtf8(entry.substr(1, end - 1)));
      continue;
    }
    Value value{};
    if (!current || !parseValueLine(entry, value)) {
      std::fprintf(stderr, "registry.reg:%d: unreadable value line ignored\n", number);
      continue;
    }
    auto same = std::find_if(current->values.begin(), current->values.end(), [&](const Value& v) {
      return lower(v.name) == lower(value.name);
    });
    if (same != current->values.end()) *same = value; else current->values.push_back(value);
  }
}

// ---- Writing REGEDIT4 text ----------------------------------------------------------------------

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// A REG_SZ that is a clean NUL-terminated text without line breaks is written as a string.
bool plainString(const Value& value, std::u16string& text) {
  if (value.type != REG_SZ || value.data.size() < 2 || value.data.size() % 2 != 0) return false;
  for (size_t i = 0; i + 2 < value.data.size(); i += 2) {
    char16_t c = static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8));
    if (c == 0 || c == '\n' || c == '\r' || (c >= 0xD800 && c < 0xE000)) return false;
    text += c;
  }
  return value.data[value.data.size() - 2] == 0 && value.data.back() == 0;
}

std::string formatValue(const Value& value) {
  std::string out = value.name.empty() ? "@=" : quoted(utf8FromUtf16(value.name)) + "=";
  std::u16string text;
  char buffer[16];
  if (plainString(value, text)) return out + quoted(utf8FromUtf16(text));
  if (value.type == REG_DWORD && value.data.size() == 4) {
    DWORD number = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                   (static_cast<DWORD>(value.data[3]) << 24);
    std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
    return out + buffer;
  }
  if (value.type == REG_BINARY) {
    out += "hex:";
  } else {
    std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
    out += buffer;
  }
  for (size_t i = 0; i < value.data.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, i ? ",%02x" : "%02x", value.data[i]);
    out += buffer;
  }
  return out;
}

std::string formatRegistry() {
  std::string out = "REGEDIT4\n";
  for (const auto& entry : registry.keys) {
    out += "\n[" + utf8FromUtf16(entry.second.path) + "]\n";
    for (const Value& value : entry.second.values) out += formatValue(value) + "\n";
  }
  return out;
}

// ---- Keeping memory and file in step ------------------------------------------------------------

// Holds the device-wide lock file while a call reads or changes the registry.
struct FileLock {
  int fd;
  explicit FileLock(bool exclusive) {
    std::string path = deviceRoot() + "/registry.lock";
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) flock(fd, exclusive ? LOCK_EX : LOCK_SH);
  }
  ~FileLock() {
    if (fd >= 0) ::close(fd);
  }
};

void refresh() {
  struct stat info {};
  if (stat(registryFile().c_str(), &info) != 0) {
    if (!registry.loaded || registry.size != -1) registry.keys.clear();
    registry.loaded = true;
    registry.size = -1;
    return;
  }
  if (registry.loaded && info.st_size == registry.size && info.st_ino == registry.inode &&
      info.st_mtim.tv_sec == registry.mtime.tv_sec && info.st_mtim.tv_nsec == registry.mtime.tv_nsec) {
    return;
  }
  std::ifstream in(registryFile(), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  parseRegistry(text.str());
  registry.loaded = true;
  registry.size = info.st_size;
  registry.inode = info.st_ino;
  registry.mtime = info.st_mtim;
}

void save() {
  std::string path = registryFile();
  std::string temporary = path + ".tmp" + std::to_string(getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << formatRegistry();
  }
  rename(temporary.c_str(), path.c_str());
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) {
    registry.size = info.st_size;
    registry.inode = info.st_ino;
    registry.mtime = info.st_mtim;
  }
}

const char16_t* rootName(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return u"HKEY_LOCAL_MACHINE";
  if (key == HKEY_CURRENT_USER) return u"HKEY_CURRENT_USER";
  if (key == HKEY_CLASSES_ROOT) return u"HKEY_CLASSES_ROOT";
  if (key == HKEY_USERS) return u"HKEY_USERS";
  return nullptr;
}

// The full path (as written) of an open key or a root, or false for an unknown handle.
bool pathOf(HKEY key, std::u16string& path) {
  if (const char16_t* root = rootName(key)) {
    path = root;
    return true;
  }
  auto* open = reinterpret_cast<std::u16string*>(key);
  if (!registry.openKeys.count(open)) return false;
  path = *open;
  return true;
}

std::u16string join(const std::u16string& base, LPCWSTR subKey) {
  std::u16string path = base;
  if (subKey && *subKey) {
    std::u16string sub = subKey;
    while (!sub.empty() && sub.back() == u'\\') sub.pop_back();
    size_t start = sub.find_first_not_of(u'\\');
    if (start != std::u16string::npos) path += u"\\" + sub.substr(start);
  }
  return path;
}

HKEY handOut(const std::u16string& path) {
  auto* open = new std::u16string(path);
  registry.openKeys.insert(open);
  return reinterpret_cast<HKEY>(open);
}

Key* keyAt(const std::u16string& path) {
  if (path.find(u'\\') == std::u16string::npos) return &ensureKey(path);  // a root is always there
  auto found = registry.keys.find(lower(path));
  return found == registry.keys.end() ? nullptr : &found->second;
}

Value* valueIn(Key& key, LPCWSTR name) {
  std::u16string wanted = lower(name ? name : u"");
  for (Value& value : key.values) {
    if (lower(value.name) == wanted) return &value;
  }
  return nullptr;
}

// One registry call: the process's lock, the device-wide file lock (exclusive for a change)
// and the contents as they are on disk now.
struct RegistryCall {
  std::lock_guard<std::mutex> guard;
  FileLock fileLock;
  explicit RegistryCall(bool changing) : guard(registry.lock), fileLock(changing) { refresh(); }
};

// The key behind a handle, or null with the error to answer.
Key* openedKey(HKEY key, LONG& error) {
  std::u16string path;
  if (!pathOf(key, path)) {
    error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  Key* found = keyAt(path);
  if (!found) error = ERROR_FILE_NOT_FOUND;  // deleted by another process meanwhile
  return found;
}

}  // namespace

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  RegistryCall call(false);
  std::u16string base;
  if (!pathOf(key, base)) return ERROR_INVALID_HANDLE;
  std::u16string path = join(base, subKey);
  Key* found = keyAt(path);
  if (!found) return ERROR_FILE_NOT_FOUND;
  *result = handOut(found->path);
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                     PHKEY result, LPDWORD disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  RegistryCall call(true);
  std::u16string base;
  if (!pathOf(key, base)) return ERROR_INVALID_HANDLE;
  std::u16string path = join(base, subKey);
  if (Key* found = keyAt(path)) {
    if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
    *result = handOut(found->path);
    return ERROR_SUCCESS;
  }
  ensureKey(path);
  save();
  if (disposition) *disposition = REG_CREATED_NEW_KEY;
  *result = handOut(path);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize) {
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  RegistryCall call(false);
  LONG error;
  Key* found = openedKey(key, error);
  if (!found) return error;
  Value* value = valueIn(*found, valueName);
  if (!value) return ERROR_FILE_NOT_FOUND;
  if (type) *type = value->type;
  DWORD size = static_cast<DWORD>(value->data.size());
  if (!dataSize) return ERROR_SUCCESS;
  if (data && *dataSize < size) {
    *dataSize = size;
    return ERROR_MORE_DATA;
  }
  if (data) std::memcpy(data, value->data.data(), size);
  *dataSize = size;
  return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
  if (!data && dataSize) return ERROR_INVALID_PARAMETER;
  RegistryCall call(true);
  LONG error;
  Key* found = openedKey(key, error);
  if (!found) return error;
  Value value{valueName ? valueName : u"", type, std::vector<BYTE>(data, data + dataSize)};
  if (Value* existing = valueIn(*found, valueName)) {
    existing->type = type;
    existing->data = value.data;
  } else {
    found->values.push_back(value);
  }
  save();
  return ERROR_SUCCESS;
}

LONG RegDeleteValueW(HKEY key, LPCWSTR valueName) {
  RegistryCall call(true);
  LONG error;
  Key* found = openedKey(key, error);
  if (!found) return error;
  Value* value = valueIn(*found, valueName);
  if (!value) return ERROR_FILE_NOT_FOUND;
  found->values.erase(found->values.begin() + (value - found->values.data()));
  save();
  return ERROR_SUCCESS;
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  RegistryCall call(true);
  std::u16string base;
  if (!pathOf(key, base)) return ERROR_INVALID_HANDLE;
  if (!subKey || !*subKey) return ERROR_INVALID_PARAMETER;
  std::u16string target = lower(join(base, subKey));
  if (!registry.keys.count(target)) return ERROR_FILE_NOT_FOUND;
  // The key goes with everything below it.
  for (auto it = registry.keys.begin(); it != registry.keys.end();) {
    const std::u16string& path = it->first;
    bool below = path == target || (path.size() > target.size() && path.compare(0, target.size(), target) == 0 &&
                                    path[target.size()] == u'\\');
    it = below ? registry.keys.erase(it) : std::next(it);
  }
  save();
  return ERROR_SUCCESS;
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD, LPWSTR, LPDWORD,
                   FILETIME*) {
  if (!name || !nameSize) return ERROR_INVALID_PARAMETER;
  RegistryCall call(false);
  std::u16string path;
  if (!pathOf(key, path)) return ERROR_INVALID_HANDLE;
  std::u16string prefix = lower(path) + u"\\";
  DWORD seen = 0;
  for (const auto& entry : registry.keys) {
    const std::u16string& candidate = entry.first;
    if (candidate.compare(0, prefix.size(), prefix) != 0 ||
        candidate.find(u'\\', prefix.size()) != std::u16string::npos) {
      continue;
    }
    if (seen++ != index) continue;
    std::u16string child = entry.second.path.substr(prefix.size());
    if (child.size() + 1 > *nameSize) {
      *nameSize = static_cast<DWORD>(child.size() + 1);
      return ERROR_MORE_DATA;
    }
    std::memcpy(name, child.c_str(), (child.size() + 1) * sizeof(char16_t));
    *nameSize = static_cast<DWORD>(child.size());
    return ERROR_SUCCESS;
  }
  return ERROR_NO_MORE_ITEMS;
}

LONG RegCloseKey(HKEY key) {
  if (rootName(key)) return ERROR_SUCCESS;
  std::lock_guard<std::mutex> guard(registry.lock);
  auto* open = reinterpret_cast<std::u16string*>(key);
  if (!registry.openKeys.erase(open)) return ERROR_INVALID_HANDLE;
  delete open;
  return ERROR_SUCCESS;
}

extern "C" void VorkControl_ReloadRegistry() {
  std::lock_guard<std::mutex> guard(registry.lock);
  registry.loaded = false;
  registry.keys.clear();
}
