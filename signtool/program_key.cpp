// SPDX-License-Identifier: ISC
#include "signtool/program_key.h"

#include <elf.h>

#include <cstdint>
#include <string>
#include <vector>

#include "signtool/constants.h"

namespace signtool {
namespace {

// Reads fields of an ELF file of either class and byte order, every read
// checked against the file's end.
class ElfReader {
 public:
  explicit ElfReader(std::string_view file)
      : file_(file),
        wide_(file.size() > EI_CLASS && file[EI_CLASS] == ELFCLASS64),
        big_endian_(file.size() > EI_DATA && file[EI_DATA] == ELFDATA2MSB) {}

  bool wide() const { return wide_; }

  // The unsigned number of `size` bytes at offset; false past the end.
  bool Number(uint64_t offset, int size, uint64_t& value) const {
    if (offset > file_.size() || file_.size() - offset < static_cast<uint64_t>(size)) return false;
    value = 0;
    for (int i = 0; i < size; ++i) {
      const auto byte = static_cast<uint8_t>(file_[offset + static_cast<uint64_t>(big_endian_ ? i : size - 1 - i)]);
      value = value << 8 | byte;
    }
    return true;
  }
  // A field that is 4 bytes in 32-bit files and 8 in 64-bit ones.
  bool Address(uint64_t offset, uint64_t& value) const { return Number(offset, wide_ ? 8 : 4, value); }

 private:
  std::string_view file_;
  bool wide_;
  bool big_endian_;
};

}  // namespace

bool LooksLikeProgram(std::string_view file) { return file.substr(0, SELFMAG) == std::string_view(ELFMAG, SELFMAG); }

bool ProgramKeyIds(std::string_view file, std::vector<std::string>& ids, std::string& error) {
  if (!LooksLikeProgram(file) || file.size() < EI_NIDENT ||
      (file[EI_CLASS] != ELFCLASS32 && file[EI_CLASS] != ELFCLASS64) ||
      (file[EI_DATA] != ELFDATA2LSB && file[EI_DATA] != ELFDATA2MSB)) {
    error = "not an ELF program file";
    return false;
  }
  const ElfReader elf(file);
  const bool w = elf.wide();
  uint64_t table = 0, entry_size = 0, count = 0, names_index = 0;
  if (!elf.Address(w ? offsetof(Elf64_Ehdr, e_shoff) : offsetof(Elf32_Ehdr, e_shoff), table) ||
      !elf.Number(w ? offsetof(Elf64_Ehdr, e_shentsize) : offsetof(Elf32_Ehdr, e_shentsize), 2, entry_size) ||
      !elf.Number(w ? offsetof(Elf64_Ehdr, e_shnum) : offsetof(Elf32_Ehdr, e_shnum), 2, count) ||
      !elf.Number(w ? offsetof(Elf64_Ehdr, e_shstrndx) : offsetof(Elf32_Ehdr, e_shstrndx), 2, names_index) ||
      entry_size < (w ? sizeof(Elf64_Shdr) : sizeof(Elf32_Shdr)) || names_index >= count) {
    error = "the ELF header has no usable section table";
    return false;
  }
  const uint64_t name_at = w ? offsetof(Elf64_Shdr, sh_name) : offsetof(Elf32_Shdr, sh_name);
  const uint64_t offset_at = w ? offsetof(Elf64_Shdr, sh_offset) : offsetof(Elf32_Shdr, sh_offset);
  const uint64_t size_at = w ? offsetof(Elf64_Shdr, sh_size) : offsetof(Elf32_Shdr, sh_size);
  uint64_t names = 0, names_size = 0;
  if (!elf.Address(table + names_index * entry_size + offset_at, names) ||
      !elf.Address(table + names_index * entry_size + size_at, names_size) || names > file.size() ||
      file.size() - names < names_size) {
    error = "the section table is cut short";
    return false;
  }
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t header = table + i * entry_size;
    uint64_t name = 0, offset = 0, size = 0;
    if (!elf.Number(header + name_at, 4, name) || !elf.Address(header + offset_at, offset) ||
        !elf.Address(header + size_at, size)) {
      error = "the section table is cut short";
      return false;
    }
    if (name >= names_size) continue;
    const std::string_view section_names = file.substr(names, names_size);
    const std::string_view section_name = section_names.substr(name, section_names.find('\0', name) - name);
    if (section_name != kKeyIdSection) continue;
    // The IDs follow each other, each ending at its NUL.  The compiler may
    // pad the section past the last NUL to its alignment (g++ for s390x makes
    // a one-ID section 18 bytes), so the IDs end where only NULs are left.
    constexpr size_t kIdLength = 16;
    const std::string_view section =
        offset <= file.size() && file.size() - offset >= size ? file.substr(offset, size) : std::string_view{};
    ids.clear();
    for (size_t at = 0; ids.empty() || section.find_first_not_of('\0', at) != std::string_view::npos;) {
      const size_t end = section.find('\0', at);
      const std::string_view text = section.substr(at, end == std::string_view::npos ? end : end - at);
      if (end == std::string_view::npos || text.size() != kIdLength ||
          text.find_first_not_of("0123456789abcdef") != std::string_view::npos) {
        error = "its key ID section does not hold key IDs (16 hex digits and a NUL each)";
        return false;
      }
      ids.emplace_back(text);
      at = end + 1;
    }
    return true;
  }
  error = "no key ID section: not a signcheck program, or one built before programs carried their key ID";
  return false;
}

}  // namespace signtool
