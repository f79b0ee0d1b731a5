#include "korvel/host_functions.h"

namespace {
HostFunctionTable table{};
}

extern "C" KORVEL_API HostFunctionTable* getAgsi(void) { return &table; }
