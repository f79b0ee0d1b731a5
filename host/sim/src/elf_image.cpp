#include "korvel_sim/elf_image.h"

#include <elf.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace korvel::sim {

namespace {

std::string hex(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%08X", v);
  return b;
}

bool inside(const std::vector<MemoryRange>& allowed, uint32_t first, uint32_t size) {
  if (size == 0) return true;
  for (const MemoryRange& r : allowed)
    if (first >= r.first && uint64_t(first) + size <= uint64_t(r.first) + r.size) return true;
  return false;
}

template <typename T>
bool at(const std::vector<uint8_t>& file, uint64_t offset, T* out) {
  if (offset + sizeof(T) > file.size()) return false;
  std::memcpy(out, file.data() + offset, sizeof(T));
  return true;
}

}  // namespace

bool readElf(const std::filesystem::path& path, const std::vector<MemoryRange>& allowed, ElfImage* image,
             std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = path.string() + ": " + why;
    return false;
  };
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return fail("no such firmware file");
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail("cannot be read");
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  Elf32_Ehdr eh;
  if (!at(file, 0, &eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0)
    return fail("not an ELF file (build the firmware with arm-none-eabi-gcc)");
  if (eh.e_ident[EI_CLASS] != ELFCLASS32 || eh.e_ident[EI_DATA] != ELFDATA2LSB || eh.e_machine != EM_ARM)
    return fail("not a 32-bit little-endian ARM ELF file");
  if (eh.e_type != ET_EXEC) return fail("not an executable ELF file (link it, do not pass an object file)");

  ElfImage result;
  result.entry = eh.e_entry;
  for (unsigned i = 0; i < eh.e_phnum; ++i) {
    Elf32_Phdr ph;
    if (!at(file, uint64_t(eh.e_phoff) + uint64_t(i) * eh.e_phentsize, &ph)) return fail("truncated program header");
    if (ph.p_type != PT_LOAD || ph.p_memsz == 0) continue;
    if (!inside(allowed, ph.p_paddr, ph.p_filesz) || !inside(allowed, ph.p_vaddr, ph.p_memsz))
      return fail("segment at " + hex(ph.p_vaddr) + " (" + std::to_string(ph.p_memsz) +
                  " bytes) lies outside the LPC17xx flash and RAM");
    if (uint64_t(ph.p_offset) + ph.p_filesz > file.size()) return fail("truncated segment data");
    if (ph.p_filesz == 0) continue;
    ElfSegment seg;
    seg.address = ph.p_paddr;
    seg.bytes.assign(file.begin() + ph.p_offset, file.begin() + ph.p_offset + ph.p_filesz);
    result.segments.push_back(std::move(seg));
  }
  if (result.segments.empty()) return fail("has no loadable segments");

  // Symbols: the first SHT_SYMTAB section and its string table.
  for (unsigned i = 0; i < eh.e_shnum; ++i) {
    Elf32_Shdr sh;
    if (!at(file, uint64_t(eh.e_shoff) + uint64_t(i) * eh.e_shentsize, &sh)) break;
    if (sh.sh_type != SHT_SYMTAB || sh.sh_entsize < sizeof(Elf32_Sym)) continue;
    Elf32_Shdr strtab;
    if (!at(file, uint64_t(eh.e_shoff) + uint64_t(sh.sh_link) * eh.e_shentsize, &strtab)) break;
    for (uint32_t off = 0; off + sizeof(Elf32_Sym) <= sh.sh_size; off += sh.sh_entsize) {
      Elf32_Sym sym;
      if (!at(file, uint64_t(sh.sh_offset) + off, &sym)) break;
      int type = ELF32_ST_TYPE(sym.st_info);
      if ((type != STT_OBJECT && type != STT_FUNC) || sym.st_name >= strtab.sh_size) continue;
      const char* name = reinterpret_cast<const char*>(file.data() + strtab.sh_offset + sym.st_name);
      size_t maxLen = strtab.sh_size - sym.st_name;
      std::string n(name, strnlen(name, maxLen));
      if (n.empty()) continue;
      result.symbols.push_back({n, sym.st_value, sym.st_size, type == STT_OBJECT});
    }
    break;
  }
  *image = std::move(result);
  return true;
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
