// One line to the host's output window (or standard error before the host is bound).
#pragma once

#include <string>

namespace korvel {
void reportBoard(const std::string& who, const std::string& what);
}
