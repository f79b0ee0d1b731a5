#include "board/board_report.h"

#include <cstdio>

#include "korvel/host_functions.h"

namespace korvel {

void reportBoard(const std::string& who, const std::string& what) {
  HostFunctionTable* agsi = getAgsi();
  if (agsi && agsi->AgsiMessage)
    agsi->AgsiMessage("[%s]: %s\n", who.c_str(), what.c_str());
  else
    std::fprintf(stderr, "[%s]: %s\n", who.c_str(), what.c_str());
}

}  // namespace korvel
