#include "unmodelled.h"

#include <algorithm>

namespace korvel::sim {

namespace {
// Reset values other than zero of registers no model answers for (zero needs no entry).
constexpr ResetValue kResetValues[] = {
    // I2S: DAO and DAI start muted/stopped/reset with 16-bit stereo; STATE shows the IRQ and
    // both DMA requests pending with empty FIFOs.
    {0x400A8000, 0x000087E1, false},  // I2SDAO
    {0x400A8004, 0x000007E1, false},  // I2SDAI
    {0x400A8010, 0x00000007, true},   // I2SSTATE
    // Ethernet MAC: held in soft reset, default collision window and maximum frame length.
    {0x50000000, 0x00008000, false},  // MAC1
    {0x50000010, 0x0000370F, false},  // CLRT
    {0x50000014, 0x00000600, false},  // MAXF
    // USB host (OHCI) registers.
    {0x5000C000, 0x00000010, true},   // HcRevision
    {0x5000C034, 0x00002EDF, false},  // HcFmInterval
    {0x5000C044, 0x00000628, false},  // HcLSThreshold
    // USB device: the command code register is empty, endpoints 0 and 1 are realized with
    // 8-byte packets.
    {0x5000C200, 0x00000010, true},   // USBDevIntSt (CCEMPTY)
    {0x5000C244, 0x00000003, false},  // USBReEp
    {0x5000C24C, 0x00000008, false},  // USBMaxPSize
    // Debug components of the Cortex-M3: four DWT comparators, six code and two literal
    // breakpoint comparators, and the ROM table that lists the components.
    {0xE0001000, 0x40000000, false},  // DWT_CTRL
    {0xE0002000, 0x00000260, false},  // FP_CTRL
    {0xE00FF000, 0xFFF0F003, true},   // ROM table: SCS
    {0xE00FF004, 0xFFF02003, true},   // DWT
    {0xE00FF008, 0xFFF03003, true},   // FPB
    {0xE00FF00C, 0xFFF01003, true},   // ITM
    {0xE00FF010, 0xFFF41003, true},   // TPIU
    {0xE00FF014, 0xFFF42003, true},   // ETM
    {0xE00FFFCC, 0x00000001, true},   // MEMTYPE
};
}  // namespace

std::span<const ResetValue> unmodelledResetValues() { return kResetValues; }

Unmodelled::Unmodelled(uint32_t base, uint32_t size) : base_(base), size_(size) {
  for (const ResetValue& r : kResetValues)
    if (r.address - base_ < size_ && r.readOnly) readOnly_.insert(r.address);
  reset();
}

void Unmodelled::reset() {
  words_.clear();
  for (const ResetValue& r : kResetValues)
    if (r.address - base_ < size_) words_[r.address] = r.value;
}

void Unmodelled::note(uint32_t address, bool write, Access access) {
  if (access != Access::Firmware || !onFirstAccess) return;
  uint32_t word = address & ~3u;
  if (seen_.insert(word).second) onFirstAccess(word, write);
}

uint32_t Unmodelled::read(uint32_t address, uint32_t size, Access access) {
  note(address, false, access);
  auto it = words_.find(address & ~3u);
  return it == words_.end() ? 0 : laneRead(it->second, address, size);
}

void Unmodelled::write(uint32_t address, uint32_t value, uint32_t size, Access access) {
  note(address, true, access);
  uint32_t word = address & ~3u;
  if (readOnly_.count(word)) return;
  uint32_t& w = words_[word];
  w = laneMerge(w, address, value, size);
}

}  // namespace korvel::sim
