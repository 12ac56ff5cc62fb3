// Files and directories, carried out by the host on mapped paths.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "crt.h"
#include "vork/core_internal.h"
#include "vork/text.h"
#include "windows.h"

using namespace vork;

namespace {

void failWithErrno() { SetLastError(errorFromErrno(errno)); }

// ---- Plain files --------------------------------------------------------------------------------

struct File {
  int fd;
};

void fileDestroy(KernelObject* object) {
  auto* file = static_cast<File*>(object->data);
  ::close(file->fd);
  delete file;
}

BOOL fileRead(KernelObject* object, void* buffer, DWORD size, DWORD* done) {
  ssize_t n;
  do {
    n = ::read(static_cast<File*>(object->data)->fd, buffer, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    failWithErrno();
    return FALSE;
  }
  *done = static_cast<DWORD>(n);
  return TRUE;
}

BOOL fileWrite(KernelObject* object, const void* buffer, DWORD size, DWORD* done) {
  const char* bytes = static_cast<const char*>(buffer);
  DWORD written = 0;
  while (written < size) {
    ssize_t n = ::write(static_cast<File*>(object->data)->fd, bytes + written, size - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *done = written;
      failWithErrno();
      return FALSE;
    }
    written += static_cast<DWORD>(n);
  }
  *done = written;
  return TRUE;
}

const ObjectOps fileOps{"file", fileDestroy, nullptr, fileRead, fileWrite};

// ---- Devices ------------------------------------------------------------------------------------

struct DeviceEntry {
  std::u16string prefix;
  DeviceOpen open;
};
std::mutex devicesLock;
// Built on first use: device kinds register themselves while the library is being loaded,
// possibly before this file's own statics are set up. Lives as long as the process.
std::vector<DeviceEntry>& devices() {
  static std::vector<DeviceEntry>& list = *new std::vector<DeviceEntry>;
  return list;
}

DeviceOpen deviceFor(const char16_t* name) {
  std::lock_guard<std::mutex> guard(devicesLock);
  for (const DeviceEntry& entry : devices()) {
    if (crt::wcsncmp(name, entry.prefix.c_str(), entry.prefix.size()) == 0) return entry.open;
  }
  return nullptr;
}

// ---- Directory listings -------------------------------------------------------------------------

struct Find {
  std::string directory;
  std::string pattern;
  DIR* dir;
};

void findDestroy(KernelObject* object) {
  auto* find = static_cast<Find*>(object->data);
  if (find->dir) closedir(find->dir);
  delete find;
}

const ObjectOps findOps{"find", findDestroy, nullptr, nullptr, nullptr};

void fillTime(FILETIME& time, const struct timespec& when) {
  // 100-nanosecond intervals since 1601.
  uint64_t value = (static_cast<uint64_t>(when.tv_sec) + 11644473600ull) * 10000000ull +
                   static_cast<uint64_t>(when.tv_nsec) / 100;
  time.dwLowDateTime = static_cast<DWORD>(value);
  time.dwHighDateTime = static_cast<DWORD>(value >> 32);
}

DWORD attributesOf(const struct stat& info) {
  DWORD attributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (!(info.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

// The next entry that matches the pattern, or false at the end.
bool nextMatch(Find* find, LPWIN32_FIND_DATAW data) {
  while (dirent* entry = readdir(find->dir)) {
    if (fnmatch(find->pattern.c_str(), entry->d_name, 0) != 0) continue;
    std::u16string name = utf16FromUtf8(entry->d_name);
    if (name.size() >= MAX_PATH) continue;  // no room for it in the record
    struct stat info {};
    std::string full = find->directory + "/" + entry->d_name;
    if (lstat(full.c_str(), &info) != 0) continue;
    std::memset(data, 0, sizeof(*data));
    data->dwFileAttributes = attributesOf(info);
    fillTime(data->ftCreationTime, info.st_ctim);
    fillTime(data->ftLastAccessTime, info.st_atim);
    fillTime(data->ftLastWriteTime, info.st_mtim);
    uint64_t size = S_ISDIR(info.st_mode) ? 0 : static_cast<uint64_t>(info.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
    std::memcpy(data->cFileName, name.c_str(), (name.size() + 1) * sizeof(char16_t));
    return true;
  }
  return false;
}

}  // namespace

namespace vork {
void registerDevice(const char16_t* prefix, DeviceOpen open) {
  std::lock_guard<std::mutex> guard(devicesLock);
  devices().push_back(DeviceEntry{prefix, open});
}
}  // namespace vork

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                   DWORD creationDisposition, DWORD, HANDLE) {
  if (!fileName || !*fileName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (DeviceOpen open = deviceFor(fileName)) return open(fileName, desiredAccess, creationDisposition);
  int flags;
  if ((desiredAccess & GENERIC_READ) && (desiredAccess & GENERIC_WRITE)) {
    flags = O_RDWR;
  } else if (desiredAccess & GENERIC_WRITE) {
    flags = O_WRONLY;
  } else {
    flags = O_RDONLY;
  }
  switch (creationDisposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
  }
  std::string path = hostPath(fileName);
  bool existed = access(path.c_str(), F_OK) == 0;
  int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EEXIST) {
      SetLastError(ERROR_FILE_EXISTS);
    } else if (errno == ENOENT && creationDisposition != OPEN_EXISTING &&
               creationDisposition != TRUNCATE_EXISTING) {
      SetLastError(ERROR_PATH_NOT_FOUND);
    } else {
      failWithErrno();
    }
    return INVALID_HANDLE_VALUE;
  }
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  bool reportExisting = existed && (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS);
  SetLastError(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return newHandle(&fileOps, new File{fd});
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  DWORD done = 0;
  if (read) *read = 0;
  KernelObject* object = objectOf(handle, nullptr);
  if (!object) return FALSE;
  if (!object->ops->read) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  BOOL ok = object->ops->read(object, buffer, toRead, &done);
  if (read) *read = done;
  return ok;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
  DWORD done = 0;
  if (written) *written = 0;
  KernelObject* object = objectOf(handle, nullptr);
  if (!object) return FALSE;
  if (!object->ops->write) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  BOOL ok = object->ops->write(object, buffer, toWrite, &done);
  if (written) *written = done;
  return ok;
}

DWORD SetFilePointer(HANDLE handle, LONG distance, PLONG distanceHigh, DWORD moveMethod) {
  KernelObject* object = objectOf(handle, &fileOps);
  if (!object) return 0xFFFFFFFFu;
  int64_t offset = distanceHigh ? (static_cast<int64_t>(*distanceHigh) << 32) | static_cast<uint32_t>(distance)
                                : distance;
  int whence = moveMethod == FILE_CURRENT ? SEEK_CUR : moveMethod == FILE_END ? SEEK_END : SEEK_SET;
  off_t result = lseek(static_cast<File*>(object->data)->fd, offset, whence);
  if (result < 0) {
    failWithErrno();
    return 0xFFFFFFFFu;
  }
  if (distanceHigh) *distanceHigh = static_cast<LONG>(result >> 32);
  return static_cast<DWORD>(result);
}

DWORD GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
  KernelObject* object = objectOf(handle, &fileOps);
  struct stat info {};
  if (!object || fstat(static_cast<File*>(object->data)->fd, &info) != 0) return 0xFFFFFFFFu;
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(static_cast<uint64_t>(info.st_size) >> 32);
  return static_cast<DWORD>(info.st_size);
}

BOOL DeleteFileW(LPCWSTR fileName) {
  std::string path = hostPath(fileName ? fileName : u"");
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (unlink(path.c_str()) != 0) {
    failWithErrno();
    return FALSE;
  }
  return TRUE;
}

BOOL MoveFileW(LPCWSTR existingName, LPCWSTR newName) {
  std::string from = hostPath(existingName ? existingName : u"");
  std::string to = hostPath(newName ? newName : u"");
  struct stat info {};
  if (lstat(from.c_str(), &info) != 0) {
    failWithErrno();
    return FALSE;
  }
  // The device never replaces an existing target.
  if (lstat(to.c_str(), &info) == 0) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  if (rename(from.c_str(), to.c_str()) != 0) {
    failWithErrno();
    return FALSE;
  }
  return TRUE;
}

BOOL CopyFileW(LPCWSTR existingName, LPCWSTR newName, BOOL failIfExists) {
  std::string from = hostPath(existingName ? existingName : u"");
  std::string to = hostPath(newName ? newName : u"");
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    failWithErrno();
    return FALSE;
  }
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC), 0666);
  if (out < 0) {
    if (errno == EEXIST) SetLastError(ERROR_FILE_EXISTS); else failWithErrno();
    ::close(in);
    return FALSE;
  }
  char buffer[65536];
  ssize_t n;
  BOOL ok = TRUE;
  while ((n = ::read(in, buffer, sizeof buffer)) > 0) {
    if (::write(out, buffer, static_cast<size_t>(n)) != n) {
      failWithErrno();
      ok = FALSE;
      break;
    }
  }
  if (n < 0) {
    failWithErrno();
    ok = FALSE;
  }
  ::close(in);
  ::close(out);
  return ok;
}

BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES) {
  if (mkdir(hostPath(pathName ? pathName : u"").c_str(), 0777) != 0) {
    failWithErrno();
    return FALSE;
  }
  return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR pathName) {
  if (rmdir(hostPath(pathName ? pathName : u"").c_str()) != 0) {
    failWithErrno();
    return FALSE;
  }
  return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR fileName) {
  struct stat info {};
  if (stat(hostPath(fileName ? fileName : u"").c_str(), &info) != 0) {
    failWithErrno();
    return INVALID_FILE_ATTRIBUTES;
  }
  return attributesOf(info);
}

HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) {
  std::string path = hostPath(fileName ? fileName : u"");
  size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::string pattern = slash == std::string::npos ? path : path.substr(slash + 1);
  if (pattern.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // Only * and ? are wildcards on the device; "*.*" matches every name, with or without a dot.
  if (pattern == "*.*") pattern = "*";
  std::string escaped;
  for (char c : pattern) {
    if (c == '[' || c == ']' || c == '\\') escaped += '\\';
    escaped += c;
  }
  pattern = escaped;
  DIR* dir = opendir(directory.c_str());
  if (!dir) {
    SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : errorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  auto* find = new Find{directory, pattern, dir};
  if (!nextMatch(find, findData)) {
    closedir(dir);
    delete find;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return newHandle(&findOps, find);
}

BOOL FindNextFileW(HANDLE handle, LPWIN32_FIND_DATAW findData) {
  KernelObject* object = objectOf(handle, &findOps);
  if (!object) return FALSE;
  if (!nextMatch(static_cast<Find*>(object->data), findData)) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  return TRUE;
}

BOOL FindClose(HANDLE handle) {
  if (!objectOf(handle, &findOps)) return FALSE;
  return CloseHandle(handle);
}
