// SPDX-License-Identifier: ISC
#include "signtool/key_file.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cctype>
#include <cstring>
#include <utility>

#include "signtool/encrypted_key.h"
#include "signtool/read_file.h"

namespace signtool {
namespace {

std::string_view Trim(std::string_view s) {
  const char* ws = " \t\r\n\f\v";
  const size_t first = s.find_first_not_of(ws);
  if (first == std::string_view::npos) return {};
  const size_t last = s.find_last_not_of(ws);
  return s.substr(first, last - first + 1);
}

bool IsHex(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// True when a is 1 < a < p and a^q = 1 mod p: a generates the order-q subgroup.
bool HasOrderQ(const BIGNUM* a, const BIGNUM* p, const BIGNUM* q, BN_CTX* ctx) {
  if (BN_cmp(a, BN_value_one()) <= 0 || BN_cmp(a, p) >= 0) return false;
  Bn t = NewBn();
  return BN_mod_exp(t.get(), a, q, p, ctx) == 1 && BN_is_one(t.get());
}

bool IsPrime(const BIGNUM* n, BN_CTX* ctx) { return BN_check_prime(n, ctx, nullptr) == 1; }

// signcheck takes its result out of Montgomery form with 512-bit steps that
// keep no carry past the top limb; that is exact only while p stays below
// 2^512 - 2^496, that is while p's top 16 bits are not all set.
bool FitsCheckerReduction(const BIGNUM* p) {
  Bn top = NewBn();
  BN_rshift(top.get(), p, kPrimePBits - 16);
  return BN_get_word(top.get()) != 0xFFFF;
}

std::string Hex(const BIGNUM* n) {
  char* text = BN_bn2hex(n);
  std::string s(text);
  OPENSSL_clear_free(text, s.size());
  return s;
}

}  // namespace

bool ParseKey(std::string_view text, const std::string& origin, KeyKind kind, DsaKey& key, std::string& error) {
  static const char* const kNames[] = {"p", "q", "g", "x", "y"};
  Bn values[5];
  int line_number = 0;
  while (!text.empty()) {
    const size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    ++line_number;
    if (const size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    line = Trim(line);
    if (line.empty()) continue;
    const std::string where = origin + ":" + std::to_string(line_number);
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      error = where + ": expected 'name = hex'";
      return false;
    }
    const std::string_view name = Trim(line.substr(0, eq));
    Secret hex;  // x's digits are the private number itself
    hex.text = Trim(line.substr(eq + 1));
    const std::string& value = hex.text;
    int index = -1;
    for (int i = 0; i < 5; ++i) {
      if (name == kNames[i]) index = i;
    }
    if (index < 0) {
      error = where + ": unknown name '" + std::string(name) + "' (expected p, q, g, x or y)";
      return false;
    }
    if (values[index]) {
      error = where + ": '" + std::string(name) + "' given twice";
      return false;
    }
    if (!IsHex(value) || value.size() > 1024) {
      error = where + ": '" + std::string(name) + "' is not a hexadecimal number";
      return false;
    }
    BIGNUM* bn = nullptr;
    if (BN_hex2bn(&bn, value.c_str()) == 0) {
      error = where + ": cannot read '" + std::string(name) + "'";
      return false;
    }
    values[index].reset(bn);
  }
  for (int i = 0; i < 5; ++i) {
    if (i == 3 && kind == KeyKind::kPublic) continue;
    if (!values[i]) {
      error = origin + ": no '" + kNames[i] + "' line" + (i == 3 ? " (a private key file is needed here)" : "");
      return false;
    }
  }
  key.p = std::move(values[0]);
  key.q = std::move(values[1]);
  key.g = std::move(values[2]);
  key.x = kind == KeyKind::kPrivate ? std::move(values[3]) : nullptr;
  key.y = std::move(values[4]);
  return CheckKey(key, error) || (error = origin + ": " + error, false);
}

std::string StatedKeyId(std::string_view text) {
  constexpr size_t kIdLength = 16;
  for (const std::string_view head : {"# signtool private key ", "# signtool public key "}) {
    if (text.substr(0, head.size()) != head) continue;
    const std::string_view id = text.substr(head.size(), kIdLength);
    if (id.size() == kIdLength && id.find_first_not_of("0123456789abcdef") == std::string_view::npos &&
        text.substr(head.size() + kIdLength, 1) == ":") {
      return std::string(id);
    }
  }
  return {};
}

bool ParseKeyText(const Secret& text, const std::string& origin, KeyKind kind, DsaKey& key, std::string& error,
                  const PassphraseSource* passphrase_source) {
  if (IsEncryptedKeyText(text.text)) return ParseEncryptedKey(text, origin, kind, passphrase_source, key, error);
  return ParseKey(text.text, origin, kind, key, error);
}

bool LoadKey(const std::string& path, KeyKind kind, DsaKey& key, std::string& error,
             const PassphraseSource* passphrase_source) {
  Secret text;
  text.text.reserve(kMaxKeyFileSize);
  if (!ReadWholeFile(path, text.text, error, kMaxKeyFileSize)) {
    error = "key file: " + error;
    return false;
  }
  return ParseKeyText(text, path, kind, key, error, passphrase_source);
}

bool CheckKey(const DsaKey& key, std::string& error) {
  BnCtx ctx(BN_CTX_new());
  if (BN_num_bits(key.p.get()) != kPrimePBits) {
    error = "p must have exactly 512 bits";
    return false;
  }
  if (!FitsCheckerReduction(key.p.get())) {
    error = "p must lie below 2^512 - 2^496 (its top 16 bits not all set)";
    return false;
  }
  if (BN_num_bits(key.q.get()) != kPrimeQBits) {
    error = "q must have exactly 160 bits";
    return false;
  }
  if (!IsPrime(key.q.get(), ctx.get())) {
    error = "q is not prime";
    return false;
  }
  if (!IsPrime(key.p.get(), ctx.get())) {
    error = "p is not prime";
    return false;
  }
  Bn p_minus_1 = CopyBn(key.p.get());
  BN_sub_word(p_minus_1.get(), 1);
  Bn rem = NewBn();
  BN_mod(rem.get(), p_minus_1.get(), key.q.get(), ctx.get());
  if (!BN_is_zero(rem.get())) {
    error = "q does not divide p - 1";
    return false;
  }
  if (!HasOrderQ(key.g.get(), key.p.get(), key.q.get(), ctx.get())) {
    error = "g does not have order q";
    return false;
  }
  if (!HasOrderQ(key.y.get(), key.p.get(), key.q.get(), ctx.get())) {
    error = "y does not have order q";
    return false;
  }
  if (key.is_private()) {
    if (BN_is_zero(key.x.get()) || BN_cmp(key.x.get(), key.q.get()) >= 0) {
      error = "x must lie between 1 and q - 1";
      return false;
    }
    Bn gx = NewBn();
    BN_mod_exp(gx.get(), key.g.get(), key.x.get(), key.p.get(), ctx.get());
    if (BN_cmp(gx.get(), key.y.get()) != 0) {
      error = "y is not g^x mod p";
      return false;
    }
  }
  return true;
}

bool GenerateKey(DsaKey& key, std::string& error) {
  BnCtx ctx(BN_CTX_new());
  Bn q = NewBn(), p = NewBn(), g = NewBn(), x = NewBn(), y = NewBn();
  // BN_generate_prime_ex sets the top two bits, so q has exactly 160 bits.
  if (BN_generate_prime_ex(q.get(), kPrimeQBits, 0, nullptr, nullptr, nullptr) != 1) {
    error = "cannot generate q";
    return false;
  }
  // p = c - (c mod 2q) + 1 for random 512-bit c: q | p - 1, and p odd.
  Bn two_q = NewBn(), rem = NewBn();
  BN_lshift1(two_q.get(), q.get());
  for (int tries = 0;; ++tries) {
    if (tries > 100000) {
      error = "cannot find p";
      return false;
    }
    if (BN_priv_rand(p.get(), kPrimePBits, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY) != 1) {
      error = "random generator failed";
      return false;
    }
    BN_mod(rem.get(), p.get(), two_q.get(), ctx.get());
    BN_sub(p.get(), p.get(), rem.get());
    BN_add_word(p.get(), 1);
    if (BN_num_bits(p.get()) == kPrimePBits && FitsCheckerReduction(p.get()) && IsPrime(p.get(), ctx.get())) break;
  }
  // g = h^((p - 1) / q) for the first h = 2, 3, ... that does not give 1.
  Bn e = CopyBn(p.get());
  BN_sub_word(e.get(), 1);
  BN_div(e.get(), nullptr, e.get(), q.get(), ctx.get());
  for (BN_ULONG h = 2;; ++h) {
    Bn base = NewBn();
    BN_set_word(base.get(), h);
    BN_mod_exp(g.get(), base.get(), e.get(), p.get(), ctx.get());
    if (!BN_is_one(g.get())) break;
  }
  do {
    if (BN_priv_rand_range(x.get(), q.get()) != 1) {
      error = "random generator failed";
      return false;
    }
  } while (BN_is_zero(x.get()));
  BN_mod_exp(y.get(), g.get(), x.get(), p.get(), ctx.get());
  key.p = std::move(p);
  key.q = std::move(q);
  key.g = std::move(g);
  key.x = std::move(x);
  key.y = std::move(y);
  return CheckKey(key, error);
}

std::string FormatKey(const DsaKey& key, KeyKind kind) {
  std::string out;
  out.reserve(4096);  // never moved once x is in it: no stray copy of it
  if (kind == KeyKind::kPrivate) {
    out += "# signtool private key " + KeyId(key) + ": DSA, 512-bit p, 160-bit q.  Keep it secret.\n";
  } else {
    out += "# signtool public key " + KeyId(key) + ": DSA, 512-bit p, 160-bit q.\n";
  }
  out += "# Numbers are big-endian hexadecimal.\n";
  out += "p = " + Hex(key.p.get()) + "\n";
  out += "q = " + Hex(key.q.get()) + "\n";
  out += "g = " + Hex(key.g.get()) + "\n";
  if (kind == KeyKind::kPrivate) {
    char* x = BN_bn2hex(key.x.get());
    const size_t length = std::strlen(x);
    out += "x = ";
    out.append(x, length);
    out += "\n";
    OPENSSL_clear_free(x, length);
  }
  out += "y = " + Hex(key.y.get()) + "\n";
  return out;
}

std::string KeyId(const DsaKey& key) {
  std::string canonical;
  const std::pair<const char*, const BIGNUM*> numbers[] = {
      {"p", key.p.get()}, {"q", key.q.get()}, {"g", key.g.get()}, {"y", key.y.get()}};
  for (const auto& [name, value] : numbers) {
    std::string hex = Hex(value);
    const size_t first = hex.find_first_not_of('0');
    hex.erase(0, first == std::string::npos ? hex.size() - 1 : first);
    canonical += std::string(name) + "=" + hex + "\n";
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(canonical.data(), canonical.size(), digest, &length, EVP_sha256(), nullptr) != 1) return {};
  static const char kDigits[] = "0123456789abcdef";
  std::string id;
  for (int i = 0; i < 8; ++i) {
    id += kDigits[digest[i] >> 4];
    id += kDigits[digest[i] & 15];
  }
  return id;
}

}  // namespace signtool
