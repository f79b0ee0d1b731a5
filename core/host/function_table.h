// Binding the host's functions into the one HostFunctionTable.
#pragma once

#include <string>

#include "korvel/host_functions.h"

namespace korvel {

// Looks every host function up by name on the host module handle. Returns false, with the first
// missing name in *missing, when a mandatory function is absent; the table is then left unbound.
bool bindHostFunctions(void* hostModule, std::string* missing);

// The core's own entries (slots 21 and 22), for interrupt number n.
uint32_t isInterruptActive(uint32_t irq);
uint32_t setInterruptPending(uint32_t irq);

}  // namespace korvel
