#include "expectations.h"

#include <cstdio>

#include "options.h"

namespace korvel::simapp {

Expectations::Expectations(const std::vector<ScriptStep>& script) {
  for (const ScriptStep& s : script)
    if (s.action == "expect") items_.push_back({s, State::Pending});
}

void Expectations::open(size_t i) {
  std::lock_guard guard(lock_);
  if (i < items_.size() && items_[i].state == State::Pending) items_[i].state = State::Open;
}

bool Expectations::line(const std::string& text) {
  std::lock_guard guard(lock_);
  bool metOne = false, outstanding = false;
  for (Item& item : items_) {
    if (item.state == State::Open && text.find(item.step.args[0]) != std::string::npos) {
      item.state = State::Met;
      metOne = true;
    }
    outstanding |= item.state != State::Met;
  }
  return metOne && !outstanding;
}

bool Expectations::close(size_t i) {
  std::lock_guard guard(lock_);
  if (i >= items_.size()) return true;
  if (items_[i].state == State::Met) return true;
  items_[i].state = State::Failed;
  return false;
}

bool Expectations::anyFailed() const {
  std::lock_guard guard(lock_);
  for (const Item& item : items_)
    if (item.state == State::Failed) return true;
  return false;
}

bool Expectations::anyWaiting() const {
  std::lock_guard guard(lock_);
  for (const Item& item : items_)
    if (item.state == State::Pending || item.state == State::Open) return true;
  return false;
}

bool Expectations::allMet() const {
  std::lock_guard guard(lock_);
  for (const Item& item : items_)
    if (item.state != State::Met) return false;
  return true;
}

std::vector<std::string> Expectations::problems() const {
  std::lock_guard guard(lock_);
  std::vector<std::string> out;
  for (const Item& item : items_) {
    const ScriptStep& s = item.step;
    char window[96];
    std::snprintf(window, sizeof window, "between %.6g s and %.6g s", s.seconds, s.seconds + s.within);
    std::string where = s.where.empty() ? "" : s.where + ": ";
    if (item.state == State::Failed)
      out.push_back(where + "expectation failed: no line containing \"" + s.args[0] + "\" " + window);
    else if (item.state != State::Met)
      out.push_back(where + "expectation unfinished: the run ended before a line containing \"" + s.args[0] +
                    "\" appeared (it was awaited " + window + ")");
  }
  return out;
}

int exitStatusFor(const RunOutcome& o) {
  if (o.faulted) return kExitFault;
  if (o.expectationFailed) return kExitExpectFailed;
  if (o.firmwareExit && *o.firmwareExit != 0) return *o.firmwareExit;
  if (o.expectationWaiting) return kExitExpectUnfinished;
  if (!o.picturesWritten) return kExitPicture;
  return kExitOk;
}

}  // namespace korvel::simapp
