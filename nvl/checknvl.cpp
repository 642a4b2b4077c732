#include "nvl/checknvl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "nvl/exit_status.h"
#include "nvl/file_descriptor.h"
#include "nvl/signature_text.h"
#include "verify/builtin_key.h"
#include "verify/verify.h"

namespace {

constexpr size_t kReadSize = 1024;

struct FreeBlock {
  void operator()(char* block) const { std::free(block); }
};

}  // namespace

int LstContentCheckSign(std::string_view content, const char* file_name, FILE* out) {
  const LstLayout layout = LocateLstLayout(content);
  if (!layout.has_region) {
    std::fprintf(out, "Can`t find signed data in lst file %s\n", file_name);
    return kExitSoftware;
  }
  if (!layout.has_signature) {
    std::fprintf(out, "Can`t find signature in lst file %s\n", file_name);
    return kExitSoftware;
  }
  uint8_t signature[kSignatureSize];
  DecodeSignatureText(layout.signature_text, signature);
  if (VerifySignatureLarge(content.data() + layout.region_begin, layout.region_size, kVerifyKey, signature) !=
      kVerifyOk) {
    std::fputs("Wrong signature ", out);
    PrintText(out, layout.signature_text);
    std::fprintf(out, " in lst file %s\n", file_name);
    return kExitSoftware;
  }
  // The file is shown as text, up to its first NUL byte.  A NUL ahead of the
  // region's end would show unsigned bytes alone or a part of the region,
  // so the region is then not taken as found.
  const size_t shown = std::min(content.find('\0'), content.size());
  if (shown < layout.region_begin + layout.region_size) {
    std::fprintf(out, "Can`t find signed data in lst file %s\n", file_name);
    return kExitSoftware;
  }
  std::fwrite(content.data(), 1, shown, out);
  return kExitOk;
}

int LstFileCheckSign(const char* file_name) {
  int fd;
  do {
    fd = open(file_name, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    std::printf("error in open file %s for reading: %s\n", file_name, std::strerror(errno));
    return kExitIoError;
  }
  FileDescriptor file(fd);

  struct stat status;
  if (fstat(file.get(), &status) != 0) {
    const int error = errno;
    file.Close();
    std::printf("fstat error for file %s: %s\n", file_name, std::strerror(error));
    return kExitIoError;
  }
  if (status.st_size <= 0) {
    file.Close();
    std::printf("empty file %s\n", file_name);
    return kExitIoError;
  }

  // The content is exactly the size fstat reported: each read asks for no
  // more than is still missing, so a file that grows meanwhile is cut there.
  const auto size = static_cast<size_t>(status.st_size);
  // Taken from malloc, not new: a failing new reports by throwing, and the
  // exception itself needs memory that may not be there either.
  const std::unique_ptr<char, FreeBlock> content(static_cast<char*>(std::malloc(size)));
  if (!content) {
    file.Close();
    std::printf("read error for file %s: %s\n", file_name, std::strerror(ENOMEM));
    return kExitIoError;
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
      return kExitIoError;
    }
    if (got == 0) {
      file.Close();
      std::printf("unexpected EOF for file %s\n", file_name);
      return kExitIoError;
    }
    count += static_cast<size_t>(got);
  } while (count < size);
  file.Close();

  return LstContentCheckSign(std::string_view(content.get(), size), file_name, stdout);
}
