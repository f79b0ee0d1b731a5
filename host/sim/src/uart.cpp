#include "uart.h"

#include <algorithm>

namespace korvel::sim {

namespace {
enum : uint32_t {
  kRbrThrDll = 0x00, kIerDlm = 0x04, kIirFcr = 0x08, kLcr = 0x0C, kMcr = 0x10, kLsr = 0x14,
  kMsr = 0x18, kScr = 0x1C, kAcr = 0x20, kIcr = 0x24, kFdr = 0x28, kTer = 0x30,
  kRs485Ctrl = 0x4C, kRs485AdrMatch = 0x50, kRs485Dly = 0x54,
};
constexpr uint32_t kDlab = 0x80;
// IER
constexpr uint32_t kRbrIntEnable = 1, kThreIntEnable = 2, kRlsIntEnable = 4;
// LSR
constexpr uint32_t kRdr = 0x01, kOe = 0x02, kThre = 0x20, kTemt = 0x40, kErrorBits = 0x1E;
// IIR interrupt identification (bits 3:0, bit 0 set: nothing pending)
constexpr uint32_t kIdNone = 0x1, kIdRls = 0x6, kIdRda = 0x4, kIdCti = 0xC, kIdThre = 0x2;
constexpr uint32_t kTxEnable = 0x80;
// The receiver gives up waiting for the trigger level after this many idle character times.
constexpr uint64_t kTimeoutCharacters = 4;
}  // namespace

void Uart::reset() {
  ier_ = fcr_ = lcr_ = mcr_ = msr_ = scr_ = acr_ = icr_ = 0;
  fdr_ = 0x10;
  ter_ = kTxEnable;
  dll_ = 1;
  dlm_ = 0;
  rs485ctrl_ = rs485adrmatch_ = rs485dly_ = 0;
  errors_ = 0;
  rxFifo_.clear();
  txFifo_.clear();
  // The wire is outside the chip: bytes already sent to it still arrive after a reset.
  txBusy_ = rxBusy_ = false;
  threPending_ = threArmed_ = ctiPending_ = false;
  if (!wire_.empty()) {
    rxBusy_ = true;
    rxEnd_ = now_ + characterCycles();
  }
  updateLine();
}

uint64_t Uart::characterCycles() const {
  // Bit time = 16 * divisor * (1 + DIVADDVAL / MULVAL) peripheral clocks. Counted in half bits
  // for the 1.5 stop bits of a 5-bit character with two stop bits selected.
  uint64_t dataBits = 5 + (lcr_ & 3);
  uint64_t halfBits = 2 * (1 + dataBits + ((lcr_ & 0x08) ? 1 : 0));
  if (lcr_ & 0x04) halfBits += dataBits == 5 ? 3 : 4;
  else halfBits += 2;
  uint64_t divisor = (uint64_t(dlm_) << 8) | dll_;
  if (divisor == 0) divisor = 1;  // the chip treats a zero divisor as one
  uint64_t divAdd = fdr_ & 0xF, mul = (fdr_ >> 4) & 0xF;
  if (divAdd == 0 || mul == 0) divAdd = 0, mul = 1;  // fractional divider off
  uint64_t pclk = clockDivider ? clockDivider() : 1;
  uint64_t num = pclk * 16 * divisor * (mul + divAdd) * halfBits, den = mul * 2;
  return std::max<uint64_t>(1, (num + den / 2) / den);
}

size_t Uart::triggerLevel() const {
  if (!fifoEnabled()) return 1;
  static constexpr size_t kLevels[4] = {1, 4, 8, 14};
  return kLevels[(fcr_ >> 6) & 3];
}

uint32_t Uart::lineStatus() const {
  uint32_t v = errors_;
  if (!rxFifo_.empty()) v |= kRdr;
  if (txFifo_.empty()) v |= kThre;
  if (txFifo_.empty() && !txBusy_) v |= kTemt;
  return v;
}

uint32_t Uart::interruptId() const {
  if ((ier_ & kRlsIntEnable) && errors_) return kIdRls;
  if (ier_ & kRbrIntEnable) {
    if (!rxFifo_.empty() && rxFifo_.size() >= triggerLevel()) return kIdRda;
    if (ctiPending_) return kIdCti;
  }
  if ((ier_ & kThreIntEnable) && threPending_) return kIdThre;
  return kIdNone;
}

void Uart::updateLine() {
  // Every state change ends here, so this is also where the next event is worked out.
  due_ = UINT64_MAX;
  if (txBusy_) due_ = std::min(due_, txEnd_);
  if (rxBusy_) due_ = std::min(due_, rxEnd_);
  if (!rxFifo_.empty() && !ctiPending_) due_ = std::min(due_, ctiAt_);
  bool level = interruptId() != kIdNone;
  if (level == line_) return;
  line_ = level;
  if (onLine) onLine(level);
}

// ---- time --------------------------------------------------------------------------------------

void Uart::advance(uint64_t cycles) {
  uint64_t target = now_ + cycles;
  while (due_ <= target) {
    now_ = due_;
    if (txBusy_ && txEnd_ == now_) transmitDone();
    if (rxBusy_ && rxEnd_ == now_) receiveDone();
    if (!rxFifo_.empty() && !ctiPending_ && ctiAt_ <= now_) ctiPending_ = true;
    updateLine();
  }
  now_ = target;
}

uint64_t Uart::cyclesToEvent() const {
  if (due_ == UINT64_MAX) return due_;
  return due_ > now_ ? due_ - now_ : 1;
}

// ---- transmitter ---------------------------------------------------------------------------------

void Uart::startTransmit() {
  if (txBusy_ || txFifo_.empty() || !(ter_ & kTxEnable)) return;
  txShift_ = txFifo_.front();
  txFifo_.pop_front();
  txBusy_ = true;
  txEnd_ = now_ + characterCycles();
  // The holding register emptied by passing its last byte on: the THRE interrupt, unless the
  // byte went straight into an idle shift register (then it waits for that character to end,
  // so the firmware can queue more without an interrupt per byte).
  if (txFifo_.empty() && threArmed_ && !directLoad_) {
    threPending_ = true;
    threArmed_ = false;
  }
}

void Uart::transmitDone() {
  txBusy_ = false;
  if (loopback()) receive(txShift_);  // UART1's loopback: TXD feeds RXD inside the chip
  else if (onTransmit) onTransmit(txShift_);
  directLoad_ = false;
  startTransmit();
  if (!txBusy_ && txFifo_.empty() && threArmed_) {
    threPending_ = true;
    threArmed_ = false;
  }
}

void Uart::flushTransmitter() {
  if (loopback()) return;
  if (txBusy_ && onTransmit) onTransmit(txShift_);
  txBusy_ = false;
  for (uint8_t b : txFifo_)
    if (onTransmit) onTransmit(b);
  txFifo_.clear();
  updateLine();
}

// ---- receiver ----------------------------------------------------------------------------------

bool Uart::input(uint8_t byte) {
  if (wire_.size() >= kWireDepth) return false;
  wire_.push_back(byte);
  if (!rxBusy_) {
    rxBusy_ = true;
    rxEnd_ = now_ + characterCycles();
    updateLine();
  }
  return true;
}

void Uart::rxActivity() {
  ctiPending_ = false;
  ctiAt_ = now_ + kTimeoutCharacters * characterCycles();
}

void Uart::receiveDone() {
  uint8_t byte = wire_.front();
  wire_.pop_front();
  // In loopback the receiver listens to the transmitter; what arrives on RXD is ignored.
  if (!loopback()) receive(byte);
  rxBusy_ = !wire_.empty();
  if (rxBusy_) rxEnd_ = now_ + characterCycles();
}

void Uart::receive(uint8_t byte) {
  // A full FIFO keeps its bytes; the new character is lost and the overrun flag tells so.
  if (rxFifo_.size() >= rxDepth()) errors_ |= kOe;
  else rxFifo_.push_back(byte);
  rxActivity();
}

// ---- registers ---------------------------------------------------------------------------------

uint32_t Uart::read(uint32_t offset, uint32_t size, Access access) {
  bool fw = access == Access::Firmware;
  bool dlab = lcr_ & kDlab;
  used_ |= fw;
  bool changed = false;  // by a read with a side effect
  uint32_t v = 0;
  switch (offset & ~3u) {
    case kRbrThrDll:
      if (dlab) {
        v = dll_;
      } else if (!rxFifo_.empty()) {
        v = rxFifo_.front();
        if (fw) {
          rxFifo_.pop_front();
          rxActivity();
          changed = true;
        }
      }
      break;
    case kIerDlm: v = dlab ? dlm_ : ier_; break;
    case kIirFcr: {
      uint32_t id = interruptId();
      v = id | (fifoEnabled() ? 0xC0 : 0);
      // Reading IIR while it names the THRE interrupt is what clears it.
      if (fw && id == kIdThre) threPending_ = false, changed = true;
      break;
    }
    case kLcr: v = lcr_; break;
    case kMcr: v = index_ == 1 ? mcr_ : 0; break;
    case kLsr:
      v = lineStatus();
      if (fw && errors_) errors_ = 0, changed = true;
      break;
    case kMsr:
      v = index_ == 1 ? msr_ : 0;
      if (fw && index_ == 1) msr_ &= ~0xFu;  // the delta bits clear on read
      break;
    case kScr: v = scr_; break;
    case kAcr: v = acr_; break;
    case kIcr: v = index_ != 1 ? icr_ : 0; break;
    case kFdr: v = fdr_; break;
    case kTer: v = ter_; break;
    case kRs485Ctrl: v = index_ == 1 ? rs485ctrl_ : 0; break;
    case kRs485AdrMatch: v = index_ == 1 ? rs485adrmatch_ : 0; break;
    case kRs485Dly: v = index_ == 1 ? rs485dly_ : 0; break;
  }
  if (changed) updateLine();
  return laneRead(v, offset, size);
}

void Uart::write(uint32_t offset, uint32_t value, uint32_t size, Access access) {
  bool fw = access == Access::Firmware;
  bool dlab = lcr_ & kDlab;
  // Registers are byte wide apart from IER, ACR and RS485 ones; a sub-word write reaches the
  // lane it addresses.
  uint32_t v = laneMerge(0, offset, value, size);
  switch (offset & ~3u) {
    case kRbrThrDll:
      if (dlab) {
        dll_ = v & 0xFF;
      } else if (fw) {
        threPending_ = false;
        threArmed_ = true;
        if (txFifo_.size() < txDepth()) {
          bool idle = !txBusy_ && txFifo_.empty();
          txFifo_.push_back(uint8_t(v));
          if (idle) directLoad_ = true;
          startTransmit();
        }
      }
      break;
    case kIerDlm:
      if (dlab) {
        dlm_ = v & 0xFF;
      } else {
        uint32_t before = ier_;
        ier_ = v & (index_ == 1 ? 0x38Fu : 0x307u);
        // Enabling the THRE interrupt with the holding register empty raises it, so a driver
        // starts its interrupt-driven transmission by enabling it.
        if (!(before & kThreIntEnable) && (ier_ & kThreIntEnable) && txFifo_.empty()) threPending_ = true;
      }
      break;
    case kIirFcr: {
      bool enable = v & 1;
      if (enable != fifoEnabled()) {
        rxFifo_.clear();
        txFifo_.clear();
      }
      if (v & 2) {  // receive FIFO reset (self-clearing)
        rxFifo_.clear();
        ctiPending_ = false;
      }
      if ((v & 4) && !txFifo_.empty()) {  // transmit FIFO reset: the holding register is empty now
        txFifo_.clear();
        threPending_ = true;
      }
      fcr_ = v & 0xC9;
      break;
    }
    case kLcr: lcr_ = v & 0xFF; break;
    case kMcr:
      if (index_ == 1) mcr_ = v & 0xD3;
      break;
    case kScr: scr_ = v & 0xFF; break;
    case kAcr:
      // Auto-baud: the interrupt-clear bits are write-only; the measurement itself is not
      // modelled (no edges arrive on RXD), so the start bit simply stays set.
      acr_ = v & 0x7;
      break;
    case kIcr:
      if (index_ != 1) icr_ = v & 0x3F;
      break;
    case kFdr: fdr_ = v & 0xFF; break;
    case kTer: {
      bool wasOff = !(ter_ & kTxEnable);
      ter_ = v & kTxEnable;
      if (wasOff && (ter_ & kTxEnable)) startTransmit();
      break;
    }
    case kRs485Ctrl:
      if (index_ == 1) rs485ctrl_ = v & 0x3F;
      break;
    case kRs485AdrMatch:
      if (index_ == 1) rs485adrmatch_ = v & 0xFF;
      break;
    case kRs485Dly:
      if (index_ == 1) rs485dly_ = v & 0xFF;
      break;
  }
  updateLine();
}

}  // namespace korvel::sim
