#include "korvel_sim/elf_image.h"

#include <elf.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "firmware_formats.h"

namespace korvel::sim {

namespace {

template <typename T>
bool at(const std::vector<uint8_t>& file, uint64_t offset, T* out) {
  if (offset > file.size() || sizeof(T) > file.size() - offset) return false;
  std::memcpy(out, file.data() + offset, sizeof(T));
  return true;
}

bool fits(const std::vector<uint8_t>& file, uint64_t offset, uint64_t size) {
  return offset <= file.size() && size <= file.size() - offset;
}

std::string lowerExtension(const std::filesystem::path& path) {
  std::string e = path.extension().string();
  std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return e;
}

}  // namespace

std::string hex32(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%08X", v);
  return b;
}

bool insideMemory(const std::vector<MemoryRange>& allowed, uint32_t first, uint64_t size) {
  if (size == 0) return true;
  for (const MemoryRange& r : allowed)
    if (first >= r.first && uint64_t(first) + size <= uint64_t(r.first) + r.size) return true;
  return false;
}

std::string outsideMemory(uint32_t address, uint64_t size) {
  return "data at " + hex32(address) + " (" + std::to_string(size) + " bytes) lies outside the LPC17xx flash and RAM";
}

bool readElf(const std::vector<uint8_t>& file, const std::string& name, const std::vector<MemoryRange>& allowed,
             ElfImage* image, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = name + ": " + why;
    return false;
  };
  Elf32_Ehdr eh;
  if (file.size() < SELFMAG || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0)
    return fail("not an ELF file (build the firmware with arm-none-eabi-gcc)");
  if (!at(file, 0, &eh)) return fail("truncated ELF file (cut short while it was written? build it again)");
  if (eh.e_ident[EI_CLASS] != ELFCLASS32 || eh.e_ident[EI_DATA] != ELFDATA2LSB || eh.e_machine != EM_ARM)
    return fail("not a 32-bit little-endian ARM ELF file");
  if (eh.e_type != ET_EXEC) return fail("not an executable ELF file (link it, do not pass an object file)");
  if (eh.e_phnum != 0 && eh.e_phentsize < sizeof(Elf32_Phdr)) return fail("corrupt ELF file (program header size)");

  ElfImage result;
  result.entry = eh.e_entry;
  for (unsigned i = 0; i < eh.e_phnum; ++i) {
    Elf32_Phdr ph;
    if (!at(file, uint64_t(eh.e_phoff) + uint64_t(i) * eh.e_phentsize, &ph)) return fail("truncated ELF file (a program header lies past its end)");
    if (ph.p_type != PT_LOAD || ph.p_memsz == 0) continue;
    if (!insideMemory(allowed, ph.p_paddr, ph.p_filesz) || !insideMemory(allowed, ph.p_vaddr, ph.p_memsz))
      return fail("segment at " + hex32(ph.p_vaddr) + " (" + std::to_string(ph.p_memsz) +
                  " bytes) lies outside the LPC17xx flash and RAM");
    if (!fits(file, ph.p_offset, ph.p_filesz)) return fail("truncated ELF file (a segment's bytes lie past its end)");
    if (ph.p_filesz == 0) continue;
    ElfSegment seg;
    seg.address = ph.p_paddr;
    seg.bytes.assign(file.begin() + ph.p_offset, file.begin() + ph.p_offset + ph.p_filesz);
    result.segments.push_back(std::move(seg));
  }
  if (result.segments.empty()) return fail("has no loadable segments");

  // Sections: a corrupt section table only costs the symbols and lines, never the load.
  std::vector<Elf32_Shdr> sections;
  if (eh.e_shentsize >= sizeof(Elf32_Shdr))
    for (unsigned i = 0; i < eh.e_shnum; ++i) {
      Elf32_Shdr sh;
      if (!at(file, uint64_t(eh.e_shoff) + uint64_t(i) * eh.e_shentsize, &sh)) break;
      if (sh.sh_type != SHT_NOBITS && !fits(file, sh.sh_offset, sh.sh_size)) sh.sh_type = SHT_NULL;
      sections.push_back(sh);
    }
  auto section = [&](uint32_t index) -> const Elf32_Shdr* {
    return index < sections.size() && sections[index].sh_type != SHT_NULL && sections[index].sh_type != SHT_NOBITS
               ? &sections[index]
               : nullptr;
  };
  // A NUL-terminated string at `offset` of a string table, cut at the table's end.
  auto stringAt = [&](const Elf32_Shdr& table, uint32_t offset) -> std::string {
    if (offset >= table.sh_size) return {};
    const char* s = reinterpret_cast<const char*>(file.data() + table.sh_offset + offset);
    return std::string(s, strnlen(s, table.sh_size - offset));
  };

  // Symbols: the first SHT_SYMTAB section and its string table.
  for (const Elf32_Shdr& sh : sections) {
    if (sh.sh_type != SHT_SYMTAB || sh.sh_entsize < sizeof(Elf32_Sym)) continue;
    const Elf32_Shdr* strtab = section(sh.sh_link);
    if (!strtab) break;
    for (uint64_t off = 0; off + sizeof(Elf32_Sym) <= sh.sh_size; off += sh.sh_entsize) {
      Elf32_Sym sym;
      if (!at(file, uint64_t(sh.sh_offset) + off, &sym)) break;
      int type = ELF32_ST_TYPE(sym.st_info);
      if (type != STT_OBJECT && type != STT_FUNC) continue;
      std::string n = stringAt(*strtab, sym.st_name);
      if (n.empty()) continue;
      result.symbols.push_back({n, sym.st_value, sym.st_size, type == STT_OBJECT});
    }
    break;
  }

  // The line table, found by section name.
  if (const Elf32_Shdr* names = section(eh.e_shstrndx)) {
    const Elf32_Shdr *line = nullptr, *lineStr = nullptr, *str = nullptr;
    for (const Elf32_Shdr& sh : sections) {
      if (sh.sh_type == SHT_NULL || sh.sh_type == SHT_NOBITS) continue;
      std::string n = stringAt(*names, sh.sh_name);
      if (n == ".debug_line") line = &sh;
      else if (n == ".debug_line_str") lineStr = &sh;
      else if (n == ".debug_str") str = &sh;
    }
    auto bytes = [&](const Elf32_Shdr* s) { return s ? file.data() + s->sh_offset : nullptr; };
    if (line)
      result.lines = readDebugLine(bytes(line), line->sh_size, bytes(lineStr), lineStr ? lineStr->sh_size : 0,
                                   bytes(str), str ? str->sh_size : 0);
  }
  *image = std::move(result);
  return true;
}

bool readBinary(const std::vector<uint8_t>& file, const std::string& name, const std::vector<MemoryRange>& allowed,
                ElfImage* image, std::string* error) {
  if (file.empty()) {
    if (error) *error = name + ": empty file (a raw binary holds the flash's bytes from address 0)";
    return false;
  }
  if (!insideMemory(allowed, 0, file.size())) {
    if (error)
      *error = name + ": " + std::to_string(file.size()) +
               " bytes do not fit the LPC17xx flash at address 0 (a raw binary is loaded there)";
    return false;
  }
  ElfImage result;
  result.segments.push_back({0, file});
  *image = std::move(result);
  return true;
}

bool readFileBytes(const std::filesystem::path& path, std::vector<uint8_t>* bytes, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    if (error) *error = path.string() + ": no such firmware file";
    return false;
  }
  uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxFirmwareFileSize) {
    if (error)
      *error = path.string() + (ec ? ": cannot be read" : ": too large to be LPC17xx firmware (" + std::to_string(size) + " bytes)");
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = path.string() + ": cannot be read (check its permissions)";
    return false;
  }
  // The file may grow while it is read (a build writing it): never take more than the limit.
  bytes->resize(size_t(size));
  in.read(reinterpret_cast<char*>(bytes->data()), std::streamsize(size));
  bytes->resize(size_t(in.gcount()));
  return true;
}

bool readFirmware(const std::filesystem::path& path, const std::vector<MemoryRange>& allowed, ElfImage* image,
                  std::string* error) {
  std::vector<uint8_t> file;
  if (!readFileBytes(path, &file, error)) return false;
  std::string name = path.string();
  if (file.size() >= SELFMAG && std::memcmp(file.data(), ELFMAG, SELFMAG) == 0)
    return readElf(file, name, allowed, image, error);
  auto first = std::find_if(file.begin(), file.end(), [](uint8_t c) { return !std::isspace(c); });
  if (first != file.end() && *first == ':') return readIntelHex(file, name, allowed, image, error);
  std::string ext = lowerExtension(path);
  if (ext == ".hex" || ext == ".ihex") return readIntelHex(file, name, allowed, image, error);
  if (ext == ".bin") return readBinary(file, name, allowed, image, error);
  if (ext == ".elf" || ext == ".axf" || ext == ".out") return readElf(file, name, allowed, image, error);
  if (error)
    *error = name +
             ": not a firmware file korvel-sim knows: give an ELF file (arm-none-eabi-gcc's output), Intel HEX "
             "(.hex) or a raw binary (.bin, loaded at address 0)";
  return false;
}

bool readElf(const std::filesystem::path& path, const std::vector<MemoryRange>& allowed, ElfImage* image,
             std::string* error) {
  std::vector<uint8_t> file;
  return readFileBytes(path, &file, error) && readElf(file, path.string(), allowed, image, error);
}

std::string functionAt(const std::vector<ElfSymbol>& symbols, uint32_t address) {
  address &= ~1u;
  for (const ElfSymbol& s : symbols) {
    uint32_t start = s.address & ~1u;
    if (s.object || address < start || address - start >= std::max<uint32_t>(s.size, 1)) continue;
    if (address == start) return s.name;
    char b[16];
    std::snprintf(b, sizeof b, "+0x%X", address - start);
    return s.name + b;
  }
  return {};
}

}  // namespace korvel::sim
