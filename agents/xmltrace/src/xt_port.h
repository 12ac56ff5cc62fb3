// Binding of the agent's port services to a K5 port library.
#pragma once

#include "k5port.h"
#include "xt_agent.h"

namespace xt {

PortOps portOpsOf(K5PortLibrary* portLibrary);

}  // namespace xt
