// Test helper: checks a trace with a real XML parser (python3's xml.etree) after wrapping
// its lines in a root element.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace xmlcheck {

inline std::string scriptPath() {
  const char* source = std::getenv("VORK_SOURCE_DIR");
  return std::string(source != nullptr ? source : ".") + "/agents/xmltrace/tests/xmlcheck.py";
}

// "" when the file is well-formed, else the parser's complaint.
inline std::string fileWellFormed(const std::string& path) {
  std::string command = "python3 '" + scriptPath() + "' '" + path + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "cannot run python3";
  std::string output;
  char buffer[256];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
  int status = pclose(pipe);
  return status == 0 ? "" : (output.empty() ? "xmlcheck failed" : output);
}

inline std::string wellFormed(const std::string& text) {
  char path[] = "/tmp/xmltrace-check-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return "cannot create a temporary file";
  close(fd);
  { std::ofstream(path, std::ios::binary) << text; }
  std::string result = fileWellFormed(path);
  unlink(path);
  return result;
}

}  // namespace xmlcheck
