// Generates the 3D models of the board's parts that the bundles list (OBJ + MTL + TGA).
// Runs at build time: usage  modelgen <output-dir> [--picture board.bmp] <Model>...
// Every model is built in millimetres on the board (Y up, Z towards the board's front edge) and
// scaled to fit the viewer's default camera.
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "../../modules/base/tools/board_layout.h"
#include "mesh.h"

using namespace modelgen;

namespace {

// Fits every model into the viewer's field of view at its default distance.
constexpr float kRadius = 0.36f;

const Rgb kPcbGreen{22, 92, 52};
const Rgb kBlack{30, 30, 32};
const Rgb kMetal{186, 190, 196};
const Rgb kGold{214, 172, 70};
const Rgb kCapGreen{18, 231, 114};  // the jumper cap's colour on the emulated board

// A square of PCB under a single part, so the part is seen as soldered.
void pcbPatch(Mesh& m, float half) {
  const auto pcb = m.material("pcb", kPcbGreen);
  m.box({-half, -1.6f, -half}, {half, 0, half}, pcb);
}

// The LCD's picture: colour bars and a frame, as the demo firmware draws.
Image screenPicture() {
  Image img = makeImage(120, 160, {0, 0, 96});
  const Rgb bars[] = {{250, 40, 40}, {40, 220, 60}, {50, 80, 250}, {250, 230, 40}, {245, 245, 245}};
  for (int y = 0; y < 160; ++y)
    for (int x = 0; x < 120; ++x) {
      if (x < 3 || x >= 117 || y < 3 || y >= 157) img.set(x, y, {245, 245, 245});
      else if (y >= 120 && y < 148) img.set(x, y, bars[(x - 3) * 5 / 114]);
      else if (y >= 30 && y < 100 && x >= 20 && x < 100) {
        const int dx = x - 60, dy = y - 65;
        if (dx * dx + dy * dy < 30 * 30) img.set(x, y, {250, 120, 30});
      }
    }
  return img;
}

void lcdModule(Mesh& m, bool touchFilm) {
  const auto carrier = m.material("carrier", kPcbGreen);
  const auto frame = m.material("frame", kMetal, 1.0f, 60);
  const auto bezel = m.material("bezel", {20, 20, 24});
  const auto flex = m.material("flex", {200, 130, 40});
  const auto screen = m.pictureMaterial("screen", screenPicture());
  m.box({-30, -1.6f, -40}, {30, 0, 40}, carrier);
  m.box({-28, 0, -38}, {28, 3.0f, 34}, frame);
  m.box({-26.5f, 3.0f, -36.5f}, {26.5f, 3.4f, 32.5f}, bezel);
  m.box({-24, 3.4f, -34}, {24, 3.6f, 30}, bezel, screen);
  m.box({-8, 0.2f, 34}, {8, 0.5f, 44}, flex);
  for (int i = 0; i < 4; ++i) m.cylinder(i % 2 ? 27.0f : -27.0f, i / 2 ? 37.0f : -37.0f, 0, 1.0f, 1.4f, 16, frame);
  if (touchFilm) {
    const auto film = m.material("film", {200, 225, 255}, 0.35f, 80);
    const auto tail = m.material("tail", {220, 160, 60});
    m.box({-26, 3.6f, -36}, {26, 3.9f, 32}, film);
    m.box({22, 0.6f, 30}, {26, 0.8f, 44}, tail);
  }
}

void board(Mesh& m, const Image& picture) {
  // Board coordinates (pixels) to millimetres on the model: 0.2 mm per pixel.
  auto bx = [](int px) { return (px - kBoardWidth / 2) * 0.2f; };
  auto bz = [](int py) { return (py - kBoardHeight / 2) * 0.2f; };
  auto part = [&](int l, int t, int r, int b, float y0, float y1, const std::string& mat) {
    m.box({bx(l), y0, bz(t)}, {bx(r), y1, bz(b)}, mat);
  };
  const auto pcb = m.material("pcb", kPcbGreen);
  const auto top = m.pictureMaterial("top", halve(picture));
  m.box({bx(0), -1.6f, bz(0)}, {bx(kBoardWidth), 0, bz(kBoardHeight)}, pcb, top);

  const auto chip = m.material("chip", kBlack);
  const auto metal = m.material("metal", kMetal, 1.0f, 60);
  const auto key = m.material("key", {20, 20, 22});
  const auto jumperCap = m.material("jumper", kCapGreen);
  const auto lever = m.material("lever", {125, 125, 125});
  const auto switchBody = m.material("switch", {2, 82, 131});
  const auto led = m.material("led", {255, 40, 30}, 0.8f, 80);
  const auto bezel = m.material("bezel", {40, 40, 44});
  const auto screen = m.pictureMaterial("screen", screenPicture());

  for (const ComponentPlace& p : kComponentPlaces) {
    switch (p.kind) {
      case PartKind::Lcd:
        part(p.left, p.top, p.right, p.bottom, 0, 3.0f, bezel);
        m.box({bx(p.left + 16), 3.0f, bz(p.top + 16)}, {bx(p.right - 16), 3.2f, bz(p.bottom - 43)},
              bezel, screen);
        break;
      case PartKind::Button: {
        part(p.left + 3, p.top + 3, p.right - 3, p.bottom - 3, 0, 1.2f, metal);
        const float cx = bx((p.left + p.right) / 2), cz = bz((p.top + p.bottom) / 2);
        m.cylinder(cx, cz, 1.2f, 3.0f, 1.8f, 16, key);
        break;
      }
      case PartKind::Joystick: {
        const float cx = bx((p.left + p.right) / 2), cz = bz((p.top + p.bottom) / 2);
        part(p.left + 14, p.top + 14, p.right - 14, p.bottom - 14, 0, 2.5f, metal);
        m.cylinder(cx, cz, 2.5f, 5.0f, 0.8f, 12, metal, false);
        m.frustum(cx, cz, 5.0f, 7.0f, 2.6f, 2.2f, 20, key);
        break;
      }
      case PartKind::Jumper:
        part(p.left + 1, p.top + 1, p.right - 1, p.bottom - 1, 0, 1.5f, chip);
        part(p.left + 1, p.top + 1, p.right - 1, p.top + 23, 1.5f, 4.0f, jumperCap);
        break;
      case PartKind::Switch:
        part(p.left, p.top, p.left + 48, p.bottom, 0, 3.5f, switchBody);
        part(p.left + 48, p.top + 13, p.left + 74, p.top + 25, 0.8f, 2.8f, lever);
        break;
      case PartKind::Led:
        part(p.left, p.top, p.right, p.bottom, 0, 0.5f, metal);
        part(p.left + 3, p.top + 1, p.right - 3, p.bottom - 1, 0.5f, 1.0f, led);
        break;
      case PartKind::CanBus:
        for (int cx : {377, 427}) {
          part(cx - 23, 0, cx + 23, 34, 0, 5.0f, metal);
          part(cx - 16, 14, cx + 16, 28, 5.0f, 6.0f, chip);
          part(cx - 14, 48, cx + 14, 66, 0, 1.5f, chip);
        }
        break;
      case PartKind::CanPort:
        break;
      case PartKind::Potmeter: {
        const float cx = bx((p.left + p.right) / 2), cz = bz((p.top + p.bottom) / 2);
        part(p.left + 4, p.top + 4, p.right - 4, p.bottom - 4, 0, 2.5f, chip);
        m.cylinder(cx, cz, 2.5f, 6.0f, 2.2f, 20, key);
        break;
      }
      case PartKind::Speaker: {
        const float cx = bx((p.left + p.right) / 2), cz = bz((p.top + p.bottom) / 2);
        m.cylinder(cx, cz, 0, 2.0f, 2.6f, 24, chip);
        break;
      }
    }
  }
  // The parts the picture draws without a component window.
  part(560, 300, 660, 400, 0, 1.4f, chip);       // LPC1768
  part(722, 2, 766, 42, 0, 6.0f, chip);          // DC jack
  part(20, 60, 110, 84, 0, 2.5f, chip);          // JTAG header
  part(0, 96, 34, 126, 0, 3.0f, metal);          // USB
  part(20, 250, 90, 280, 0, 5.0f, metal);        // UART0 connector
  part(40, 320, 90, 344, 0, 1.5f, chip);         // level shifter
  part(24, 380, 114, 450, 0, 2.0f, metal);       // SD card socket
  part(600, 150, 634, 172, 0, 2.0f, chip);       // regulator
  part(580, 424, 616, 438, 0, 2.0f, metal);      // crystal
}

void button(Mesh& m) {
  pcbPatch(m, 6);
  const auto metal = m.material("metal", kMetal, 1.0f, 60);
  const auto body = m.material("body", kBlack);
  const auto key = m.material("key", {20, 20, 22});
  m.box({-3, 0, -3}, {3, 2.5f, 3}, body);
  m.box({-3, 2.5f, -3}, {3, 2.8f, 3}, metal);
  for (float x : {-3.6f, 3.0f})
    for (float z : {-2.3f, 1.7f}) m.box({x, 0, z}, {x + 0.6f, 1.2f, z + 0.6f}, metal);
  m.cylinder(0, 0, 2.8f, 3.6f, 1.9f, 24, body, false);
  m.cylinder(0, 0, 3.6f, 4.6f, 1.7f, 24, key);
}

void joystick(Mesh& m) {
  pcbPatch(m, 8);
  const auto metal = m.material("metal", kMetal, 1.0f, 60);
  const auto body = m.material("body", kBlack);
  const auto knob = m.material("knob", {40, 40, 44}, 1.0f, 40);
  m.box({-5, 0, -5}, {5, 4, 5}, body);
  m.box({-5, 4, -5}, {5, 4.4f, 5}, metal);
  for (float x : {-6.0f, 5.0f})
    for (float z : {-3.0f, -0.5f, 2.0f}) m.box({x, 0, z}, {x + 1, 0.8f, z + 1}, metal);
  m.cylinder(0, 0, 4.4f, 8.0f, 0.9f, 16, metal, false);
  m.frustum(0, 0, 8.0f, 10.5f, 3.0f, 3.2f, 24, knob, false, true);
  m.frustum(0, 0, 10.5f, 11.5f, 3.2f, 2.4f, 24, knob);
}

void potmeter(Mesh& m) {
  pcbPatch(m, 8);
  const auto body = m.material("body", {30, 60, 140});
  const auto metal = m.material("metal", kMetal, 1.0f, 60);
  const auto knob = m.material("knob", {40, 40, 44}, 1.0f, 40);
  const auto mark = m.material("mark", {240, 240, 230});
  m.box({-5, 0, -5}, {5, 3.5f, 5}, body);
  for (int i = -1; i <= 1; ++i) m.box({i * 2.5f - 0.4f, -1.5f, 5}, {i * 2.5f + 0.4f, 0.5f, 6.5f}, metal);
  m.cylinder(0, 0, 3.5f, 5.0f, 1.2f, 16, metal, false);
  m.cylinder(0, 0, 5.0f, 9.0f, 3.6f, 32, knob);
  m.box({-0.3f, 9.0f, -3.4f}, {0.3f, 9.1f, -0.8f}, mark);
}

void speaker(Mesh& m) {
  pcbPatch(m, 10);
  const auto body = m.material("body", kBlack);
  const auto cone = m.material("cone", {70, 70, 74}, 1.0f, 20);
  const auto metal = m.material("metal", kMetal, 1.0f, 60);
  m.cylinder(0, 0, 0, 1.0f, 7.5f, 40, metal, false);
  m.frustum(0, 0, 1.0f, 4.0f, 7.5f, 7.0f, 40, body, false, true);
  m.frustum(0, 0, 4.0f, 3.0f, 7.0f, 2.0f, 40, cone);
}

void jumper(Mesh& m) {
  pcbPatch(m, 6);
  const auto base = m.material("base", kBlack);
  const auto pin = m.material("pin", kGold, 1.0f, 80);
  const auto cap = m.material("cap", kCapGreen);
  m.box({-1.27f, 0, -3.81f}, {1.27f, 2.5f, 3.81f}, base);
  for (int i = 0; i < 3; ++i) {
    const float z = -2.54f + 2.54f * i;
    m.box({-0.32f, 2.5f, z - 0.32f}, {0.32f, i == 2 ? 8.5f : 6.0f, z + 0.32f}, pin);
  }
  // The cap joins pins 1 and 2 (state 1 on the board).
  m.box({-1.25f, 3.0f, -3.8f}, {1.25f, 9.0f, 1.3f}, cap);
}

void slideSwitch(Mesh& m) {
  pcbPatch(m, 8);
  const auto body = m.material("body", {2, 82, 131});
  const auto metal = m.material("metal", kMetal, 1.0f, 60);
  const auto lever = m.material("lever", {125, 125, 125});
  m.box({-4.5f, 0, -2}, {4.5f, 4, 2}, body);
  m.box({-4.5f, 4, -2}, {4.5f, 4.3f, 2}, metal);
  m.box({-1.5f, 4.3f, -0.8f}, {1.5f, 7.5f, 0.8f}, lever);
  for (int i = -1; i <= 1; ++i) m.box({i * 2.5f - 0.35f, -1.0f, 2}, {i * 2.5f + 0.35f, 0.5f, 3.5f}, metal);
}

void led(Mesh& m) {
  pcbPatch(m, 3);
  const auto pad = m.material("pad", kMetal, 1.0f, 60);
  const auto body = m.material("body", {235, 235, 225});
  const auto lens = m.material("lens", {255, 40, 30}, 0.75f, 90);
  m.box({-1.6f, 0, -0.8f}, {-1.0f, 0.7f, 0.8f}, pad);
  m.box({1.0f, 0, -0.8f}, {1.6f, 0.7f, 0.8f}, pad);
  m.box({-1.0f, 0, -0.8f}, {1.0f, 0.5f, 0.8f}, body);
  m.box({-0.9f, 0.5f, -0.7f}, {0.9f, 1.1f, 0.7f}, lens);
}

void canConnector(Mesh& m) {
  pcbPatch(m, 18);
  const auto shell = m.material("shell", kMetal, 1.0f, 60);
  const auto body = m.material("body", kBlack);
  const auto chip = m.material("chip", {26, 26, 28});
  const auto pins = m.material("pins", kGold, 1.0f, 80);
  // DB9 on the board's front edge (towards +Z, facing the camera), its transceiver behind it.
  m.box({-15.5f, 0, 12}, {15.5f, 12.5f, 13}, shell);
  m.box({-8.5f, 3, 13}, {8.5f, 9.5f, 19}, shell);
  m.box({-7.5f, 3.8f, 18.9f}, {7.5f, 8.7f, 19.1f}, body);
  m.box({-15, 0, 2}, {15, 11, 12}, body);
  for (float x : {-12.5f, 12.5f}) m.box({x - 2.2f, 4.3f, 13}, {x + 2.2f, 8.2f, 17}, shell);  // screw locks
  m.box({-2.5f, 0, -9}, {2.5f, 1.5f, -4}, chip);
  for (int i = 0; i < 4; ++i)
    for (float x : {-3.2f, 2.5f}) m.box({x, 0, -8.6f + i * 1.27f}, {x + 0.7f, 0.9f, -8.2f + i * 1.27f}, pins);
}

struct ModelSpec {
  const char* title;
  float tilt;
  std::function<void(Mesh&, const Image*)> build;
  bool needsPicture = false;
};

const std::map<std::string, ModelSpec>& models() {
  static const std::map<std::string, ModelSpec> table = {
      {"Board", {"Korvel board", 60, [](Mesh& m, const Image* p) { board(m, *p); }, true}},
      {"LCD", {"TFT LCD module", 65, [](Mesh& m, const Image*) { lcdModule(m, false); }}},
      {"TouchPanel", {"Touch panel on the LCD", 65, [](Mesh& m, const Image*) { lcdModule(m, true); }}},
      {"Button", {"Push button", 35, [](Mesh& m, const Image*) { button(m); }}},
      {"Joystick", {"Five-way joystick", 30, [](Mesh& m, const Image*) { joystick(m); }}},
      {"Potmeter", {"Potentiometer on AD0.5", 35, [](Mesh& m, const Image*) { potmeter(m); }}},
      {"Speaker", {"Speaker on the DAC output", 35, [](Mesh& m, const Image*) { speaker(m); }}},
      {"Jumper", {"Jumper with cap", 25, [](Mesh& m, const Image*) { jumper(m); }}},
      {"Switch", {"Power slide switch", 30, [](Mesh& m, const Image*) { slideSwitch(m); }}},
      {"LED", {"Power LED", 40, [](Mesh& m, const Image*) { led(m); }}},
      {"CAN-connector", {"CAN port: DB9 connector and transceiver", 35,
                         [](Mesh& m, const Image*) { canConnector(m); }}},
  };
  return table;
}

int usage() {
  std::string names;
  for (const auto& [name, spec] : models()) names += " " + name;
  std::fprintf(stderr, "usage: modelgen <output-dir> [--picture board.bmp] <Model>...\nmodels:%s\n",
               names.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  const std::string dir = argv[1];
  std::string picturePath;
  std::vector<std::string> names;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--picture") == 0 && i + 1 < argc) picturePath = argv[++i];
    else names.push_back(argv[i]);
  }
  Image picture;
  for (const auto& name : names) {
    auto it = models().find(name);
    if (it == models().end()) {
      std::fprintf(stderr, "modelgen: unknown model '%s'\n", name.c_str());
      return usage();
    }
    const ModelSpec& spec = it->second;
    std::string error;
    if (spec.needsPicture && picture.width == 0) {
      if (picturePath.empty()) {
        std::fprintf(stderr, "modelgen: the model %s needs --picture <board.bmp>\n", name.c_str());
        return 2;
      }
      if (!readBmp(picturePath, picture, error)) {
        std::fprintf(stderr, "modelgen: %s\n", error.c_str());
        return 1;
      }
    }
    Mesh mesh;
    spec.build(mesh, &picture);
    mesh.fit(kRadius, spec.tilt);
    if (!mesh.write(dir, name, spec.title, error)) {
      std::fprintf(stderr, "modelgen: %s\n", error.c_str());
      return 1;
    }
  }
  return 0;
}
