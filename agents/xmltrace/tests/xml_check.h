// Test helper: checks a trace with a real XML parser (libxml2) after wrapping its lines in a
// root element, as a reader of the trace has to.
#pragma once

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <fstream>
#include <sstream>
#include <string>

namespace xmlcheck {

// "" when the text is well-formed XML (in UTF-8), else the parser's complaint.
inline std::string wellFormed(const std::string& text) {
  std::string document = "<trace>\n" + text + "</trace>\n";
  xmlResetLastError();
  xmlDocPtr doc = xmlReadMemory(document.data(), static_cast<int>(document.size()), "trace.xml", "UTF-8",
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (doc == nullptr) {
    const xmlError* error = xmlGetLastError();
    std::string message = error != nullptr && error->message != nullptr ? error->message : "not well-formed";
    if (error != nullptr) message += " (line " + std::to_string(error->line - 1) + ")";
    return message;
  }
  xmlFreeDoc(doc);
  return "";
}

inline std::string fileWellFormed(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot read " + path;
  std::stringstream s;
  s << in.rdbuf();
  return wellFormed(s.str());
}

}  // namespace xmlcheck
