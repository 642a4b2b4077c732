// SPDX-License-Identifier: ISC
// Key rings loaded at run time: the keys a client gives, each refused unless
// the loader finds it sound, held until the ring is freed.
#include "lib/keyring.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "check/messages.h"
#include "dsa/key_loader.h"
#include "io/file_descriptor.h"
#include "io/io.h"
#include "lib/signcheck.h"

namespace {

// A public key file is a few hundred bytes; a larger one is no key file, and
// is refused before it is read.
constexpr off_t kLargestKeyFile = 64 * 1024;

int Refuse(signcheck_keyring& ring, int status, const char* name, std::string_view reason, int error = 0) {
  ring.message.assign("key file ").append(name).append(": ").append(reason).append("\n");
  ring.error = error;
  return status;
}

int RefuseSystem(signcheck_keyring& ring, const char* name, const char* what, int error) {
  ErrorTextBuffer buffer;
  const std::string reason = std::string(what) + ": " + SystemErrorText(error, buffer);
  return Refuse(ring, SIGNCHECK_IO_ERROR, name, reason, error);
}

// SIGNCHECK_USAGE when the ring takes no more keys, else SIGNCHECK_OK.
int CheckRoom(signcheck_keyring& ring, const char* name) {
  if (ring.used.load(std::memory_order_acquire)) {
    return Refuse(ring, SIGNCHECK_USAGE, name, "the ring has been used by a check and takes no more keys");
  }
  if (ring.keys.size() == kMaxRingKeys) {
    return Refuse(ring, SIGNCHECK_USAGE, name, "the ring already holds 8 keys");
  }
  return SIGNCHECK_OK;
}

int AddText(signcheck_keyring& ring, std::string_view text, const char* name) {
  auto key = std::make_unique<PublicKey>();
  std::string reason;
  if (!LoadPublicKey(text, name, *key, reason)) {
    ring.message.assign("key file ").append(reason).append("\n");
    ring.error = 0;
    return SIGNCHECK_DATA_ERROR;
  }
  ring.pointers[ring.keys.size()] = key.get();
  ring.keys.push_back(std::move(key));
  ring.message.clear();
  ring.error = 0;
  return SIGNCHECK_OK;
}

}  // namespace

KeyRing signcheck_keyring::View() const { return KeyRing(pointers.data(), keys.size()); }

extern "C" {

signcheck_keyring* signcheck_keyring_new(void) {
  try {
    auto* ring = new signcheck_keyring;
    ring->keys.reserve(kMaxRingKeys);
    return ring;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void signcheck_keyring_free(signcheck_keyring* ring) { delete ring; }

int signcheck_keyring_add_text(signcheck_keyring* ring, const char* text, size_t size) {
  if (ring == nullptr) {
    return SIGNCHECK_USAGE;
  }
  try {
    if (text == nullptr) {
      return Refuse(*ring, SIGNCHECK_USAGE, "<text>", "no text given");
    }
    if (const int status = CheckRoom(*ring, "<text>")) {
      return status;
    }
    return AddText(*ring, std::string_view(text, size), "<text>");
  } catch (const std::bad_alloc&) {
    ring->message.clear();
    ring->error = ENOMEM;
    return SIGNCHECK_IO_ERROR;
  }
}

int signcheck_keyring_add_file(signcheck_keyring* ring, const char* path) {
  if (ring == nullptr) {
    return SIGNCHECK_USAGE;
  }
  try {
    if (path == nullptr) {
      return Refuse(*ring, SIGNCHECK_USAGE, "(null)", "no file name given");
    }
    if (const int status = CheckRoom(*ring, path)) {
      return status;
    }
    // Not blocking: a FIFO given as a key file is refused, not waited on.
    const int fd = io::Open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
      return RefuseSystem(*ring, path, "cannot open", errno);
    }
    const FileDescriptor file(fd);
    struct stat status;
    if (fstat(file.get(), &status) != 0) {
      return RefuseSystem(*ring, path, "cannot examine", errno);
    }
    if (S_ISDIR(status.st_mode)) {
      return RefuseSystem(*ring, path, "cannot read", EISDIR);
    }
    if (!S_ISREG(status.st_mode)) {
      return Refuse(*ring, SIGNCHECK_IO_ERROR, path, "not a regular file", EINVAL);
    }
    if (status.st_size > kLargestKeyFile) {
      return Refuse(*ring, SIGNCHECK_DATA_ERROR, path, "too large for a public key file");
    }
    std::string text(static_cast<size_t>(status.st_size), '\0');
    // No more than the size examined: a file that grows meanwhile is cut there.
    const io::Filled filled = io::ReadFull(file.get(), text.data(), text.size());
    if (filled.error != 0) {
      return RefuseSystem(*ring, path, "cannot read", filled.error);
    }
    text.resize(filled.count);
    return AddText(*ring, text, path);
  } catch (const std::bad_alloc&) {
    ring->message.clear();
    ring->error = ENOMEM;
    return SIGNCHECK_IO_ERROR;
  }
}

size_t signcheck_keyring_message(const signcheck_keyring* ring, char* buffer, size_t size) {
  const std::string_view message = ring == nullptr ? std::string_view() : std::string_view(ring->message);
  if (buffer != nullptr && size > 0) {
    const size_t copied = message.size() < size ? message.size() : size - 1;
    if (copied > 0) {
      std::memcpy(buffer, message.data(), copied);
    }
    buffer[copied] = '\0';
  }
  return message.size();
}

int signcheck_keyring_errno(const signcheck_keyring* ring) { return ring == nullptr ? 0 : ring->error; }

size_t signcheck_keyring_size(const signcheck_keyring* ring) { return ring == nullptr ? 0 : ring->keys.size(); }

const char* signcheck_keyring_key_id(const signcheck_keyring* ring, size_t index) {
  return ring == nullptr || index >= ring->keys.size() ? nullptr : ring->keys[index]->id;
}

}  // extern "C"
