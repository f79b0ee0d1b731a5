// The script's expect steps while a run plays them: each opens at its step's time, is met by the
// first firmware output line that contains its text, and fails when its time runs out first.
// Also how a headless run's outcome becomes korvel-sim's exit status. Free of windows and of the
// simulator, so both are tested on their own.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "script.h"

namespace korvel::simapp {

class Expectations {
 public:
  // Takes the expect steps of a script (other steps are ignored); their indices are the order
  // in which they appear there.
  explicit Expectations(const std::vector<ScriptStep>& script = {});

  size_t size() const { return items_.size(); }
  const ScriptStep& step(size_t i) const { return items_[i].step; }
  // From now on lines may meet expectation i.
  void open(size_t i);
  // A firmware output line. True when this line met the last expectation still outstanding.
  bool line(const std::string& text);
  // Expectation i's time is up: true when it was met, false when it failed (now recorded).
  bool close(size_t i);

  bool anyFailed() const;
  bool anyWaiting() const;  // not met and not failed: still open, or never opened
  bool allMet() const;
  // One line per expectation that failed or still waits, saying which and why.
  std::vector<std::string> problems() const;

 private:
  enum class State { Pending, Open, Met, Failed };
  struct Item {
    ScriptStep step;
    State state = State::Pending;
  };
  mutable std::mutex lock_;
  std::vector<Item> items_;
};

// What ended a headless run, as the exit status reports it.
struct RunOutcome {
  bool faulted = false;
  std::optional<int> firmwareExit;  // the semihosting exit status, when the firmware exited
  bool expectationFailed = false;
  bool expectationWaiting = false;
  bool picturesWritten = true;
};
// A fault (3) first, then a failed expectation (5), the firmware's own non-zero exit status, an
// expectation still waiting (6), a picture not written (4), and 0.
int exitStatusFor(const RunOutcome& outcome);

}  // namespace korvel::simapp
