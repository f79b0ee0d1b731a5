// Callers of the code a fault stopped in, beyond PC and LR, found the way a debugger does for
// unoptimised Thumb code: gcc -O0 keeps a frame pointer in r7 (push {..., r7, lr}; sub sp, #N;
// add r7, sp, #M), so each function's saved r7 and LR lie at a known place from r7. Exception
// frames are followed too: a return address that is EXC_RETURN leads to the stacked PC of the
// code the exception interrupted. Optimised code has no such chain and gives no callers.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "korvel_sim/elf_image.h"

namespace korvel::sim {

struct CallerFrame {
  uint32_t address;
  bool interrupted;  // a stacked PC (the instruction an exception interrupted), not a return address
};

struct WalkStart {
  uint32_t pc, lr, r7;
  uint32_t psp;  // where an exception frame lies when EXC_RETURN says the process stack
};

// Reads a word of the target's memory; nothing where nothing answers.
using ReadWord = std::function<std::optional<uint32_t>(uint32_t address)>;

// At most `limit` callers, nearest first; stops where a function's prologue is not the frame
// pointer pattern, a return address is not in a function, or the chain does not move up the stack.
std::vector<CallerFrame> framePointerCallers(const WalkStart& start, const std::vector<ElfSymbol>& symbols,
                                             const ReadWord& read, size_t limit = 16);

}  // namespace korvel::sim
