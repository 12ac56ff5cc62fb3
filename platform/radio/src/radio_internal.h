// Shared between the radio's own sources.
#pragma once

#include <string>

namespace vork::radio {

// Hands a status change to the status thread (returns at once).
void queueStatus(int status);
std::string airFilePath();

}  // namespace vork::radio
