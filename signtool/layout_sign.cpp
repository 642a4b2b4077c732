// SPDX-License-Identifier: ISC
#include "signtool/layout_sign.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "dsa/verify.h"
#include "layouts/lst_layout.h"
#include "layouts/signature_text.h"
#include "layouts/tagged_pieces.h"
#include "layouts/url_layout.h"

namespace {

constexpr size_t kSignatureDigits = 2 * kSignatureSize;

using SignText = std::function<std::string(std::string_view)>;

bool IsSpace(char c) { return IsTextSpace(static_cast<unsigned char>(c)); }

bool IsSignatureText(const std::string& text) {
  if (text.size() != kSignatureDigits) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// The signer reports its own failures through error; only a text of the
// wrong form with no word from the signer gets a message here.
bool SignBytes(const SignText& sign_text, std::string_view bytes, std::string& text, std::string& error) {
  text = sign_text(bytes);
  if (IsSignatureText(text)) return true;
  if (error.empty()) error = "the signer gave no 80-digit signature text";
  return false;
}

std::vector<std::string_view> SplitLines(std::string_view input) {
  std::vector<std::string_view> lines;
  size_t begin = 0;
  while (begin < input.size()) {
    const size_t feed = input.find('\n', begin);
    const size_t end = feed == std::string_view::npos ? input.size() : feed + 1;
    lines.push_back(input.substr(begin, end - begin));
    begin = end;
  }
  return lines;
}

// nvl and msg: every line that begins with the tag is signed as it stands;
// the signature line goes last, so that no tagged line is left after it.
bool SignTagged(std::string_view tag, std::string_view input, const SignText& sign_text, std::string& output,
                std::string& error) {
  const std::vector<std::string_view> lines = SplitLines(input);
  // A last line without line end gets the line end the file uses.
  const bool feed_only = !lines.empty() && lines.front().back() == '\n' &&
                         (lines.front().size() < 2 || lines.front()[lines.front().size() - 2] != '\r');
  const std::string_view line_end = feed_only ? "\n" : "\r\n";

  std::string signed_data;
  std::string body;
  size_t entries = 0;
  for (size_t index = 0; index < lines.size(); ++index) {
    std::string line(lines[index]);
    if (PieceHasTag(line, kSignTag)) continue;  // an earlier signature
    if (line.back() != '\n') line += line_end;
    const std::string where = "line " + std::to_string(index + 1);
    if (line.size() > kLongestPiece) {
      error = where + " is longer than " + std::to_string(kLongestPiece) +
              " bytes with its line end; signcheck would read it as several lines";
      return false;
    }
    if (line.find('\0') != std::string::npos) {
      error = where + " holds a NUL byte; signcheck would read it only up to that byte";
      return false;
    }
    if (PieceHasTag(line, tag)) {
      signed_data += line;
      ++entries;
    }
    body += line;
  }
  if (entries == 0) {
    error = "no line begins with \"" + std::string(tag) + "\"; signcheck accepts no list without entries";
    return false;
  }
  std::string text;
  if (!SignBytes(sign_text, signed_data, text, error)) return false;
  std::string file = body + std::string(kSignTag) + text + "\r\n";
  const TaggedLayout layout = LocateTaggedLayout(file, tag);
  if (!layout.has_signature_line || layout.signature_text != text + "\r\n" || layout.list.signed_data != signed_data ||
      layout.list.piece_held_nul) {
    error = "signcheck would not find the signed lines or the signature where they were written";
    return false;
  }
  output = std::move(file);
  return true;
}

// lst: the region from the start marker through the end marker's line feed
// is signed; the signature goes after "Signature=" in "[Signature]".
bool SignLst(std::string_view input, const SignText& sign_text, std::string& output, std::string& error) {
  const LstLayout unsigned_layout = LocateLstLayout(input);
  if (!unsigned_layout.has_region) {
    if (input.find(kLstStartMarker) == std::string_view::npos) {
      error = "no \"[NorvuUpdateList]\" opens the signed region";
    } else if (input.find(kLstEndMarker) == std::string_view::npos) {
      error = "no \"[NorvuUpdateListEnd]\" ended by CR LF closes the signed region";
    } else {
      error = "\"[NorvuUpdateListEnd]\" stands before \"[NorvuUpdateList]\"";
    }
    return false;
  }
  const size_t start = unsigned_layout.region_begin;
  const size_t region_end = start + unsigned_layout.region_size;
  const std::string_view region = input.substr(start, unsigned_layout.region_size);
  if (input.substr(0, region_end).find('\0') != std::string_view::npos) {
    error = "a NUL byte stands before the end of the signed region; signcheck would not show the region whole";
    return false;
  }
  std::string text;
  if (!SignBytes(sign_text, region, text, error)) return false;

  std::string file(input);
  const size_t section = file.find(kLstSignatureSection);
  size_t replace_begin;
  size_t replace_end;
  std::string replacement;
  if (section == std::string::npos) {
    if (!file.empty() && file.back() != '\n') file += "\r\n";
    replace_begin = replace_end = file.size();
    replacement = std::string(kLstSignatureSection) + "\r\n" + std::string(kLstSignatureKey) + text + "\r\n";
  } else if (const size_t key = file.find(kLstSignatureKey, section); key == std::string::npos) {
    // The section has no signature line yet: it goes right under the header.
    size_t header_end = file.find('\n', section);
    if (header_end == std::string::npos) {
      file += "\r\n";
      header_end = file.size() - 1;
    }
    replace_begin = replace_end = header_end + 1;
    replacement = std::string(kLstSignatureKey) + text + "\r\n";
  } else {
    // The old value, if any, stands on the key's line after blanks.
    replace_begin = key + kLstSignatureKey.size();
    while (replace_begin < file.size() && (file[replace_begin] == ' ' || file[replace_begin] == '\t')) {
      ++replace_begin;
    }
    replace_end = replace_begin;
    while (replace_end < file.size() && !IsSpace(file[replace_end])) ++replace_end;
    replacement = text;
  }
  if (replace_end > start && replace_begin < region_end) {
    error = "the signature line stands inside the signed region";
    return false;
  }
  file.replace(replace_begin, replace_end - replace_begin, replacement);
  const LstLayout layout = LocateLstLayout(file);
  if (!layout.has_region || file.compare(layout.region_begin, layout.region_size, region) != 0 ||
      !layout.has_signature || layout.signature_text != text) {
    error = "signcheck would not find the signed region or the signature where they were written";
    return false;
  }
  output = std::move(file);
  return true;
}

// url: the marker and the signature go ahead of the content, which is
// signed whole.  signcheck skips whitespace after the signature text, so
// content that begins with whitespace would not be signed from its start.
bool SignUrl(std::string_view input, const SignText& sign_text, std::string& output, std::string& error) {
  if (!input.empty() && IsSpace(input.front())) {
    error = "the content begins with whitespace, which signcheck would not count as signed";
    return false;
  }
  std::string text;
  if (!SignBytes(sign_text, input, text, error)) return false;
  std::string file = std::string(kUrlMarker) + "\r\n" + text + "\r\n";
  file += input;
  const UrlLayout layout = LocateUrlLayout(file);
  if (!layout.has_marker || layout.signature_text != text || layout.signed_begin != file.size() - input.size()) {
    error = "signcheck would not find the signature or the content where they were written";
    return false;
  }
  output = std::move(file);
  return true;
}

}  // namespace

bool SignInLayout(CheckMode mode, std::string_view input, const SignText& sign_text, std::string& output,
                  std::string& error) {
  switch (mode) {
    case CheckMode::kNvl:
    case CheckMode::kMsg: return SignTagged(ModeTag(mode), input, sign_text, output, error);
    case CheckMode::kLst: return SignLst(input, sign_text, output, error);
    case CheckMode::kUrl: return SignUrl(input, sign_text, output, error);
  }
  error = "no such mode";  // not reached: the switch names every mode
  return false;
}
