// SPDX-License-Identifier: ISC
// The C interface of libsigncheck over the checks that signcheck runs.  The
// dispatcher (check/dispatch.h) reads and decides everything, mode by mode;
// this file only keeps its outcome in the result and hands it back.
#include "lib/signcheck.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "check/dispatch.h"
#include "check/exit_status.h"
#include "dsa/builtin_key.h"
#include "dsa/public_key.h"
#include "lib/keyring.h"

static_assert(SIGNCHECK_OK == kExitOk && SIGNCHECK_USAGE == kExitUsage && SIGNCHECK_DATA_ERROR == kExitDataError &&
              SIGNCHECK_SOFTWARE == kExitSoftware && SIGNCHECK_IO_ERROR == kExitIoError);

namespace {

// Names up to the longest path the system opens are kept without growing
// the result, so that a buffer check of lst or url allocates nothing.
constexpr size_t kNameReserve = 4096;
constexpr size_t kModeWordReserve = 32;
constexpr size_t kSpanReserve = 16;

}  // namespace

struct signcheck_result {
  CheckReport report{kExitUsage, CheckMessage::kNone, CheckMode::kNvl, 0, {}};
  std::string file_name;                   // the name the message shows
  std::string mode_word;                   // the word an unknown mode was given as
  CheckStorage checked;                    // the spans and what they point into
  const PublicKey* verified_by = nullptr;  // the key of the ring that verified
};

namespace {

// Forgets the last check: every call, even one refused for its arguments,
// leaves only its own outcome (a null argument: status SIGNCHECK_USAGE, no
// spans and no message).
void Forget(signcheck_result& result) {
  result.checked.spans.clear();
  result.file_name.clear();
  result.mode_word.clear();
  result.report = CheckReport{kExitUsage, CheckMessage::kNone, CheckMode::kNvl, 0, {}};
  result.verified_by = nullptr;
}

// The keys a check accepts: the ring's, or the compiled-in ones for none.
// A ring's first check makes it immutable.
KeyRing KeysOf(const signcheck_keyring* ring) {
  if (ring == nullptr) {
    return CompiledKeyRing();
  }
  // Written once: every later check only reads the flag, so threads that
  // share the ring do not contend for its cache line.
  if (!ring->used.load(std::memory_order_relaxed)) {
    ring->used.store(true, std::memory_order_release);
  }
  return ring->View();
}

// Records which key verified, once the check is done.
int Finish(signcheck_result& result, KeyRing keys) {
  const int index = result.report.key_index;
  if (result.report.status == kExitOk && index >= 0 && static_cast<size_t>(index) < keys.size()) {
    result.verified_by = keys[static_cast<size_t>(index)];
  }
  return result.report.status;
}

// Takes the arguments the message may name.  False when one is missing, the
// mode is unknown or the ring holds no key; the result then says so.
bool TakeArguments(signcheck_result& result, const char* mode_word, const char* file_name,
                   const signcheck_keyring* ring, CheckMode& mode) {
  if (mode_word == nullptr || file_name == nullptr) {
    return false;
  }
  result.file_name = file_name;
  if (!MatchModeWord(mode_word, mode)) {
    result.report.message = CheckMessage::kUnknownMode;
    result.mode_word = mode_word;
    return false;
  }
  if (ring != nullptr && ring->keys.empty()) {
    result.report.message = CheckMessage::kNoKeys;
    return false;
  }
  return true;
}

class BufferSink final : public MessageSink {
 public:
  BufferSink(char* buffer, size_t size) : buffer_(buffer), size_(size) {}
  void Append(std::string_view piece) override {
    if (length_ + 1 < size_) {
      const size_t room = size_ - 1 - length_;
      std::memcpy(buffer_ + length_, piece.data(), piece.size() < room ? piece.size() : room);
    }
    length_ += piece.size();
  }
  size_t Finish() {
    if (size_ > 0) {
      buffer_[length_ < size_ ? length_ : size_ - 1] = '\0';
    }
    return length_;
  }

 private:
  char* buffer_;
  size_t size_;
  size_t length_ = 0;
};

}  // namespace

extern "C" {

signcheck_result* signcheck_result_new(void) {
  try {
    auto* result = new signcheck_result;
    result->file_name.reserve(kNameReserve);
    result->mode_word.reserve(kModeWordReserve);
    result->checked.spans.reserve(kSpanReserve);
    return result;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void signcheck_result_free(signcheck_result* result) { delete result; }

int signcheck_check_buffer_with(signcheck_result* result, const signcheck_keyring* ring, const char* mode_word,
                                const void* data, size_t size, const char* name) {
  if (result == nullptr) {
    return SIGNCHECK_USAGE;
  }
  CheckMode mode = CheckMode::kNvl;
  Forget(*result);
  try {
    if ((data == nullptr && size > 0) || !TakeArguments(*result, mode_word, name, ring, mode)) {
      return result->report.status;
    }
    const KeyRing keys = KeysOf(ring);
    const std::string_view content(data == nullptr ? "" : static_cast<const char*>(data), size);
    result->report = CheckContent(content, mode, keys, result->checked.spans);
    return Finish(*result, keys);
  } catch (const std::bad_alloc&) {
    result->checked.spans.clear();
    result->report = OutOfMemory(mode);
  }
  return result->report.status;
}

int signcheck_check_file_with(signcheck_result* result, const signcheck_keyring* ring, const char* mode_word,
                              const char* file_name) {
  if (result == nullptr) {
    return SIGNCHECK_USAGE;
  }
  CheckMode mode = CheckMode::kNvl;
  Forget(*result);
  try {
    if (!TakeArguments(*result, mode_word, file_name, ring, mode)) {
      return result->report.status;
    }
    const KeyRing keys = KeysOf(ring);
    result->report = CheckFile(file_name, mode, keys, result->checked);
    return Finish(*result, keys);
  } catch (const std::bad_alloc&) {
    result->checked.spans.clear();
    result->report = OutOfMemory(mode);
  }
  return result->report.status;
}

int signcheck_check_buffer(signcheck_result* result, const char* mode_word, const void* data, size_t size,
                           const char* name) {
  return signcheck_check_buffer_with(result, nullptr, mode_word, data, size, name);
}

int signcheck_check_file(signcheck_result* result, const char* mode_word, const char* file_name) {
  return signcheck_check_file_with(result, nullptr, mode_word, file_name);
}

int signcheck_result_status(const signcheck_result* result) {
  return result == nullptr ? SIGNCHECK_USAGE : result->report.status;
}

size_t signcheck_result_span_count(const signcheck_result* result) {
  return result == nullptr ? 0 : result->checked.spans.size();
}

signcheck_span signcheck_result_span(const signcheck_result* result, size_t index) {
  if (result == nullptr || index >= result->checked.spans.size()) {
    return {nullptr, 0};
  }
  const std::string_view span = result->checked.spans[index];
  return {reinterpret_cast<const unsigned char*>(span.data()), span.size()};
}

size_t signcheck_result_spans(const signcheck_result* result, signcheck_span* spans, size_t count) {
  if (result == nullptr) {
    return 0;
  }
  const size_t copied = spans == nullptr ? 0 : std::min(count, result->checked.spans.size());
  for (size_t i = 0; i < copied; ++i) {
    spans[i] = {reinterpret_cast<const unsigned char*>(result->checked.spans[i].data()),
                result->checked.spans[i].size()};
  }
  return result->checked.spans.size();
}

size_t signcheck_result_message(const signcheck_result* result, char* buffer, size_t size) {
  BufferSink sink(buffer, buffer == nullptr ? 0 : size);
  if (result != nullptr) {
    ComposeMessage(result->report, result->file_name.c_str(), result->mode_word.c_str(), sink);
  }
  return sink.Finish();
}

const char* signcheck_result_key_id(const signcheck_result* result) {
  return result == nullptr || result->verified_by == nullptr ? nullptr : result->verified_by->id;
}

int signcheck_result_errno(const signcheck_result* result) {
  return result == nullptr || result->report.status != kExitIoError ? 0 : result->report.error;
}

const char* signcheck_key_id(void) { return kKeyId; }

const char* signcheck_version(void) { return SIGNCHECK_LIB_VERSION; }

}  // extern "C"
