#include "nvl/checknvl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "nvl/file_descriptor.h"
#include "nvl/signature_text.h"
#include "verify/builtin_key.h"
#include "verify/verify.h"

namespace {

constexpr std::string_view kStartMarker = "[NorvuUpdateList]";
// The end marker's CR LF belongs to it: a line ended by a line feed alone
// closes no region.
constexpr std::string_view kEndMarker = "[NorvuUpdateListEnd]\r\n";
constexpr std::string_view kSignatureSection = "[Signature]";
constexpr std::string_view kSignatureKey = "Signature=";

constexpr size_t kReadSize = 1024;

}  // namespace

LstLayout LocateLstLayout(std::string_view content) {
  LstLayout layout;
  const size_t start = content.find(kStartMarker);
  const size_t end = content.find(kEndMarker);
  // An end marker ahead of the start marker encloses nothing.
  if (start == std::string_view::npos || end == std::string_view::npos || end < start) {
    return layout;
  }
  layout.has_region = true;
  layout.region_begin = start;
  layout.region_size = end + kEndMarker.size() - start;

  const size_t section = content.find(kSignatureSection);
  if (section == std::string_view::npos) {
    return layout;
  }
  const size_t key = content.find(kSignatureKey, section);
  if (key == std::string_view::npos) {
    return layout;
  }
  size_t text_begin = key + kSignatureKey.size();
  while (text_begin < content.size() && IsTextSpace(static_cast<unsigned char>(content[text_begin]))) {
    ++text_begin;
  }
  if (text_begin == content.size()) {
    return layout;
  }
  size_t text_end = text_begin;
  while (text_end < content.size() && !IsTextSpace(static_cast<unsigned char>(content[text_end]))) {
    ++text_end;
  }
  layout.has_signature = true;
  layout.signature_text = content.substr(text_begin, text_end - text_begin);
  return layout;
}

int LstContentCheckSign(std::string_view content, const char* file_name, FILE* out) {
  const LstLayout layout = LocateLstLayout(content);
  if (!layout.has_region) {
    std::fprintf(out, "Can`t find signed data in lst file %s\n", file_name);
    return 70;
  }
  if (!layout.has_signature) {
    std::fprintf(out, "Can`t find signature in lst file %s\n", file_name);
    return 70;
  }
  uint8_t signature[40];
  DecodeSignatureText(layout.signature_text, signature);
  // The whole region is hashed whatever its size; an int length would cut
  // regions past 2 GiB short and sign only their prefix.
  if (VerifySignatureLarge(content.data() + layout.region_begin, layout.region_size, kVerifyKey, signature) !=
      kVerifyOk) {
    std::fputs("Wrong signature ", out);
    PrintText(out, layout.signature_text);
    std::fprintf(out, " in lst file %s\n", file_name);
    return 70;
  }
  // The file is shown as text, up to its first NUL byte.  A NUL ahead of the
  // region's end would show unsigned bytes alone or a part of the region,
  // so the region is then not taken as found.
  const size_t shown = std::min(content.find('\0'), content.size());
  if (shown < layout.region_begin + layout.region_size) {
    std::fprintf(out, "Can`t find signed data in lst file %s\n", file_name);
    return 70;
  }
  std::fwrite(content.data(), 1, shown, out);
  return 0;
}

int LstFileCheckSign(const char* file_name) {
  int fd;
  do {
    fd = open(file_name, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    std::printf("error in open file %s for reading: %s\n", file_name, std::strerror(errno));
    return 74;
  }
  FileDescriptor file(fd);

  struct stat status;
  if (fstat(file.get(), &status) != 0) {
    const int error = errno;
    file.Close();
    std::printf("fstat error for file %s: %s\n", file_name, std::strerror(error));
    return 74;
  }
  if (status.st_size <= 0) {
    file.Close();
    std::printf("empty file %s\n", file_name);
    return 74;
  }

  // The content is exactly the size fstat reported: each read asks for no
  // more than is still missing, so a file that grows meanwhile is cut there.
  const auto size = static_cast<size_t>(status.st_size);
  const std::unique_ptr<char[]> content(new (std::nothrow) char[size]);
  if (!content) {
    file.Close();
    std::printf("read error for file %s: %s\n", file_name, std::strerror(ENOMEM));
    return 74;
  }
  size_t count = 0;
  do {
    const ssize_t got = read(file.get(), content.get() + count, std::min(kReadSize, size - count));
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      const int error = errno;
      file.Close();
      std::printf("read error for file %s: %s\n", file_name, std::strerror(error));
      return 74;
    }
    if (got == 0) {
      file.Close();
      std::printf("unexpected EOF for file %s\n", file_name);
      return 74;
    }
    count += static_cast<size_t>(got);
  } while (count < size);
  file.Close();

  return LstContentCheckSign(std::string_view(content.get(), size), file_name, stdout);
}
