#include "session.h"

#include <thread>

#include <chrono>
#include <cstdio>
#include <future>

#include "korvel/platform/platform.h"

namespace korvel::simapp {

std::filesystem::path defaultPluginPath() {
  auto exe = platform::modulePathOf(reinterpret_cast<const void*>(&defaultPluginPath));
  return exe.parent_path().parent_path() / "lib" / "korvel" / "libKorvel.so";
}

Session::Session(const Options& options, std::function<void(std::function<void()>)> post)
    : options_(options), post_(std::move(post)) {
  sim_.setRealTime(options.realTime);
  if (options.timeLimit >= 0) sim_.setTimeLimit(options.timeLimit);
  sim_.setOutput([this](const std::string& l) { print(l); });
  sim_.setOnStopped([this](sim::StopReason r) {
    post_([this, r] {
      if (onStopped_) onStopped_(r);
    });
  });
  sim_.setOnRequestedReset([this] {
    if (initialised_) plugin_.reset();
  });
}

Session::~Session() { shutdown(); }

void Session::print(const std::string& line) {
  {
    std::lock_guard lock(outputMutex_);
    output_.push_back(line);
  }
  if (outputListener_) outputListener_();
}

std::vector<std::string> Session::takeOutput() {
  std::lock_guard lock(outputMutex_);
  std::vector<std::string> out(output_.begin(), output_.end());
  output_.clear();
  return out;
}

bool Session::open(std::string* error) {
  agsi_host::Host& host = agsi_host::Host::instance();
  host.setMessageSink([this](const std::string& m) {
    // Messages carry their own line breaks; the pane shows one line per message line.
    std::string text = m;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    size_t p = 0;
    for (size_t q; (q = text.find('\n', p)) != std::string::npos; p = q + 1) print(text.substr(p, q - p));
    print(text.substr(p));
  });
  if (!options_.firmware.empty() && !sim_.loadFirmware(options_.firmware, error)) return false;
  std::filesystem::path pluginPath = options_.plugin.empty() ? defaultPluginPath() : options_.plugin;
  if (!plugin_.load(pluginPath, error)) return false;
  if (!plugin_.check()) {
    *error = pluginPath.string() + " refused this simulator (its check call returned 0)";
    return false;
  }
  if (!plugin_.init(options_.firmware.string())) {
    *error = pluginPath.string() + " failed to initialise (see the messages above)";
    return false;
  }
  initialised_ = true;
  // Pins nobody drives float high: the LPC17xx's pull-ups are on after reset.
  for (int n = 0; n < 5; ++n) {
    std::string name = "PORT" + std::to_string(n);
    if (host.vtrHandle(name)) host.writeVtr(name, 0xFFFFFFFF, false);
  }
  plugin_.reset();
  return true;
}

AGSIMENU* Session::menu(const std::string& text) const {
  for (AGSIMENU* m : menus())
    if (m && m->szText && text == m->szText) return m;
  return nullptr;
}

void Session::run() {
  if (!sim_.running()) sim_.start();
}

void Session::stop() { sim_.stop(); }

void Session::reset() {
  bool wasRunning = sim_.running();
  sim_.stop();
  if (initialised_) plugin_.reset();
  sim_.resetChip();
  if (wasRunning) sim_.start();
}

void Session::scheduleScript(BoardStep board) {
  for (const ScriptStep& step : options_.script) {
    sim_.at(step.seconds, [this, step, board] {
      if (step.action == "vtr") {
        auto& host = agsi_host::Host::instance();
        bool isFloat = false, defined = false;
        for (const agsi_host::VtrInfo& v : host.vtrs())
          if (v.name == step.args[0]) defined = true, isFloat = v.type == AGSIVTRFLOAT;
        uint32_t value = 0;
        if (!defined)
          print("Script: \"" + step.text + "\": no virtual register " + step.args[0]);
        else if (!vtrValue(step.args[1], isFloat, &value))
          print("Script: \"" + step.text + "\": " + step.args[0] + " holds whole numbers (write e.g. 0xFFFF)");
        else
          host.writeVtr(step.args[0], value, false);
        return;
      }
      if (step.action == "reset") {
        sim_.triggerReset();
        return;
      }
      if (step.action == "stop") {
        sim_.stopSimulation();
        post_([this] {
          if (onStopped_) onStopped_(sim::StopReason::Requested);
        });
        return;
      }
      // Board steps run on the UI thread; the simulation waits so they land at their time.
      auto done = std::make_shared<std::promise<void>>();
      std::future<void> finished = done->get_future();
      post_([this, step, board, done] {
        std::string error;
        if (!board(step, &error)) print("Script: \"" + step.text + "\": " + error);
        done->set_value();
      });
      while (finished.wait_for(std::chrono::milliseconds(20)) == std::future_status::timeout)
        if (closing_ || sim_.stopping()) return;
      // A button's contact bounce plays out in real microseconds on a thread of its own; when the
      // simulation runs faster than real time it would otherwise race ahead of the burst (a press
      // and a release scripted 50 ms apart could both land between two polls of the firmware).
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
  }
}

void Session::updateDialogs() {
  for (AGSIMENU* m : menus())
    if (m && m->pDlg && m->pDlg->iOpen && m->pDlg->Update) m->pDlg->Update();
}

void Session::killDialogs() {
  for (AGSIMENU* m : menus())
    if (m && m->pDlg && m->pDlg->iOpen && m->pDlg->Kill) m->pDlg->Kill(m->pDlg);
}

void Session::shutdown() {
  if (closing_.exchange(true)) return;
  sim_.stop();
  if (initialised_) {
    plugin_.terminate();
    initialised_ = false;
  }
  agsi_host::Host::instance().setMessageSink(nullptr);
}

int Session::exitCode() const {
  switch (sim_.lastStop()) {
    case sim::StopReason::Exited: return sim_.exitStatus().value_or(0);
    case sim::StopReason::Fault: return 3;
    default: return 0;
  }
}

}  // namespace korvel::simapp
