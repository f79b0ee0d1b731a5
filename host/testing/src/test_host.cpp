#include "korvel_test/test_host.h"

#include <cstring>
#include <fstream>
#include <stdexcept>

#include "agsi_host/functions.h"

namespace fs = std::filesystem;

namespace korvel_test {

namespace {

void checkSize(uint32_t size) {
  if (size < 1 || size > 4) throw std::invalid_argument("access size must be 1 to 4 bytes, not " + std::to_string(size));
}

}  // namespace

TestHost::TestHost() {
  host().setTarget(nullptr);
  host().setMessageSink(nullptr);
  host().clear();
}

TestHost::~TestHost() {
  unloadPlugin();
  host().setMessageSink(nullptr);
  host().clear();
}

void TestHost::firmwareWrite(uint32_t address, uint32_t value, uint32_t size) {
  poke(address, value, size);
  host().firmwareWrote(address, size);
}

void TestHost::debuggerWrite(uint32_t address, uint32_t value, uint32_t size) {
  poke(address, value, size);
  host().debuggerWrote(address, size);
}

uint32_t TestHost::firmwareRead(uint32_t address, uint32_t size) {
  checkSize(size);
  if (auto answer = host().firmwareRead(address, size)) {
    return size == 4 ? *answer : *answer & ((1u << (8 * size)) - 1);
  }
  return peek(address, size);
}

uint32_t TestHost::peek(uint32_t address, uint32_t size) {
  checkSize(size);
  uint8_t bytes[4] = {};
  AgsiReadMemory(address, size, bytes);
  uint32_t value = 0;
  for (uint32_t i = 0; i < size; ++i) value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
  return value;
}

void TestHost::poke(uint32_t address, uint32_t value, uint32_t size) {
  checkSize(size);
  uint8_t bytes[4];
  for (uint32_t i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  AgsiWriteMemory(address, size, bytes);
}

std::optional<uint32_t> TestHost::vtr(const std::string& name) const {
  return agsi_host::Host::instance().readVtr(name);
}

bool TestHost::writeVtr(const std::string& name, uint32_t value, bool simulatorAccess) {
  return host().writeVtr(name, value, simulatorAccess);
}

std::vector<std::string> TestHost::messages() const { return agsi_host::Host::instance().messages(); }
std::string TestHost::output() const { return agsi_host::Host::instance().output(); }
void TestHost::clearMessages() { host().clearMessages(); }
void TestHost::onMessage(std::function<void(const std::string&)> sink) { host().setMessageSink(std::move(sink)); }

void TestHost::addSymbol(const std::string& name, uint32_t address, uint32_t type) {
  host().addSymbol({name, address, type});
}

void TestHost::setTime(double seconds) {
  setTime(seconds, static_cast<uint64_t>(seconds * 100e6 + 0.5));
}

void TestHost::setTime(double seconds, uint64_t states) {
  host().advanceTo(states);  // fires due timers on the way
  host().setTime(seconds, states);
}

bool TestHost::loadPlugin(const fs::path& path, std::string* error) { return plugin_.load(path, error); }

bool TestHost::unloadPlugin(std::string* error) {
  if (!plugin_.loaded()) return true;
  fs::path path = plugin_.path();
  plugin_.unload();
  if (libraryIsLoaded(path)) {
    if (error != nullptr)
      *error = path.string() + " stayed loaded after unloading (something in it pins it in the process: a unique symbol or a thread-local with a destructor)";
    return false;
  }
  return true;
}

bool TestHost::libraryIsLoaded(const fs::path& path) {
  // The loader's own list of what is mapped; a deleted file shows with " (deleted)" after it.
  std::error_code ec;
  fs::path wanted = fs::weakly_canonical(path, ec);
  std::string name = (ec ? path : wanted).string();
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    auto slash = line.find('/');
    if (slash == std::string::npos) continue;
    std::string mapped = line.substr(slash);
    if (mapped == name || mapped == name + " (deleted)") return true;
  }
  return false;
}

std::vector<AGSIMENU*> TestHost::menuEntries() const { return agsi_host::Host::instance().menuEntries(); }

bool TestHost::selectMenu(const std::string& text) {
  for (AGSIMENU* m : menuEntries()) {
    if (m->szText != nullptr && text == m->szText && m->fp != nullptr) {
      m->fp(m);
      return true;
    }
  }
  return false;
}

}  // namespace korvel_test
