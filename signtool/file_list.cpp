// SPDX-License-Identifier: ISC
#include "signtool/file_list.h"

#include <string_view>

#include "signtool/read_file.h"

namespace signtool {

bool ReadFileList(const std::string& path, bool null_separated, std::vector<std::string>& names, std::string& error) {
  std::string text;
  if (!ReadWholeFile(path, text, error)) return false;
  const std::string list = path == "-" ? "the list on standard input" : "the list " + path;
  const char separator = null_separated ? '\0' : '\n';
  if (!null_separated && text.find('\0') != std::string::npos) {
    error = list + " holds a NUL byte: give --null for a NUL-separated list";
    return false;
  }
  const size_t before = names.size();
  std::string_view rest = text;
  while (!rest.empty()) {
    const size_t end = rest.find(separator);
    const std::string_view name = rest.substr(0, end);
    if (!name.empty()) names.emplace_back(name);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  }
  if (names.size() == before) {
    error = list + " names no file";
    return false;
  }
  return true;
}

}  // namespace signtool
