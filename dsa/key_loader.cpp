// SPDX-License-Identifier: ISC
#include "dsa/key_loader.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "dsa/power_tables.h"
#include "hash/sha256.h"

namespace {

// Sets reason to prefix and text.  Out of line, so that the compiler keeps
// each text whole in the binary rather than spelling it out in immediate
// stores, whose pieces read as misspelt words.
[[gnu::noinline]] void SetReason(std::string& reason, std::string_view prefix, const char* text) {
  reason.assign(prefix).append(text);
}

// Far more than any key file needs; anything longer is not one.
constexpr size_t kMaxKeyText = 64 * 1024;

// Each round passes an odd composite with probability at most 1/4, whatever
// the number: 40 rounds keep a crafted composite below 2^-80.
constexpr int kMillerRabinRounds = 40;

constexpr const char* kNumberNames = "pqgy";

struct KeyNumbers {
  Limb p[kPLimbs], q[kQLimbs], g[kPLimbs], y[kPLimbs];
  int bits[4];  // significant bits of p, q, g, y as written
};

// An odd modulus of n limbs with its top bit set, and its Montgomery
// constants: factor = -m^-1 mod 2^16, one = 2^(16n) mod m, r_squared =
// 2^(32n) mod m, both fully reduced.
struct Modulus {
  const Limb* m;
  int16_t n;
  Limb factor;
  Limb one[kPLimbs];
  Limb r_squared[kPLimbs];
};

bool IsZero(const Limb* a, int n) {
  for (int i = 0; i < n; ++i) {
    if (a[i] != 0) return false;
  }
  return true;
}

// x = 2x mod m for x below m.
void ModDouble(Limb* x, const Limb* m, int16_t n) {
  uint32_t carry = 0;
  for (int i = 0; i < n; ++i) {
    const uint32_t t = (uint32_t{x[i]} << 1) | carry;
    x[i] = static_cast<Limb>(t);
    carry = t >> 16;
  }
  if (carry != 0 || limbs_compare(x, m, n) >= 0) limbs_sub(x, m, n);
}

// x below 2^(16n) and so below 2m: fully reduced below m.
void ReduceOnce(Limb* x, const Limb* m, int16_t n) {
  if (limbs_compare(x, m, n) >= 0) limbs_sub(x, m, n);
}

void SetUpModulus(const Limb* m, int16_t n, Modulus& mod) {
  mod.m = m;
  mod.n = n;
  // Newton's step doubles the correct low bits of m^-1: 3, 6, 12, 24.
  uint32_t inverse = m[0];
  for (int i = 0; i < 3; ++i) inverse = static_cast<Limb>(inverse * (2 - m[0] * inverse));
  mod.factor = static_cast<Limb>(0u - inverse);
  // With the top bit of m set, 2^(16n) - m is already below m.
  std::memset(mod.one, 0, sizeof mod.one);
  limbs_sub(mod.one, m, n);
  std::memcpy(mod.r_squared, mod.one, sizeof mod.one);
  for (int i = 0; i < 16 * n; ++i) ModDouble(mod.r_squared, m, n);
}

// out = base^exponent in Montgomery form, fully reduced, for base in
// Montgomery form below 2^(16n) and an exponent of exponent_limbs limbs;
// fixed windows of 4 bits.  out may alias base.
void MontPow(const Limb* base, const Limb* exponent, int exponent_limbs, const Modulus& mod, Limb* out) {
  Limb powers[16][kPLimbs];
  std::memcpy(powers[0], mod.one, sizeof powers[0]);
  for (int i = 1; i < 16; ++i) mont_mul(powers[i - 1], base, powers[i], mod.m, mod.factor, mod.n);
  Limb acc[kPLimbs];
  std::memcpy(acc, mod.one, sizeof acc);
  for (int nibble = 4 * exponent_limbs - 1; nibble >= 0; --nibble) {
    for (int s = 0; s < 4; ++s) mont_mul(acc, acc, acc, mod.m, mod.factor, mod.n);
    const int digit = (exponent[nibble / 4] >> (4 * (nibble % 4))) & 15;
    if (digit != 0) mont_mul(acc, powers[digit], acc, mod.m, mod.factor, mod.n);
  }
  ReduceOnce(acc, mod.m, mod.n);
  std::memcpy(out, acc, sizeof(Limb) * static_cast<size_t>(mod.n));
}

bool RandomBytes(void* buffer, size_t length) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  while (length > 0) {
    const ssize_t got = getrandom(bytes, length, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    length -= static_cast<size_t>(got);
  }
  return true;
}

enum class Primality { kProbablyPrime, kComposite, kNoRandomness };

// Miller-Rabin with kMillerRabinRounds bases drawn uniformly from
// [2, m - 2] by getrandom(2), for an odd m of n limbs with its top bit set.
Primality MillerRabin(const Limb* m, int16_t n) {
  Modulus mod;
  SetUpModulus(m, n, mod);
  Limb m_minus_1[kPLimbs], odd_part[kPLimbs] = {}, minus_one[kPLimbs];
  std::memcpy(m_minus_1, m, sizeof(Limb) * static_cast<size_t>(n));
  m_minus_1[0] = static_cast<Limb>(m_minus_1[0] - 1);
  std::memcpy(minus_one, m, sizeof(Limb) * static_cast<size_t>(n));
  limbs_sub(minus_one, mod.one, n);
  // m - 1 = 2^twos * odd_part.
  int twos = 0;
  while (((m_minus_1[twos / 16] >> (twos % 16)) & 1) == 0) ++twos;
  for (int bit = twos; bit < 16 * n; ++bit) {
    const int to = bit - twos;
    if ((m_minus_1[bit / 16] >> (bit % 16)) & 1)
      odd_part[to / 16] = static_cast<Limb>(odd_part[to / 16] | 1u << (to % 16));
  }

  Limb one_limb[kPLimbs] = {1};
  for (int round = 0; round < kMillerRabinRounds; ++round) {
    Limb base[kPLimbs] = {};
    do {
      if (!RandomBytes(base, sizeof(Limb) * static_cast<size_t>(n))) return Primality::kNoRandomness;
    } while (limbs_compare(base, m_minus_1, n) >= 0 || limbs_compare(base, one_limb, n) <= 0);
    Limb x[kPLimbs];
    mont_mul(base, mod.r_squared, x, m, mod.factor, n);
    MontPow(x, odd_part, n, mod, x);
    if (limbs_compare(x, mod.one, n) == 0 || limbs_compare(x, minus_one, n) == 0) continue;
    bool reached_minus_one = false;
    for (int s = 1; s < twos && !reached_minus_one; ++s) {
      mont_mul(x, x, x, m, mod.factor, n);
      ReduceOnce(x, m, n);
      if (limbs_compare(x, mod.one, n) == 0) return Primality::kComposite;
      reached_minus_one = limbs_compare(x, minus_one, n) == 0;
    }
    if (!reached_minus_one) return Primality::kComposite;
  }
  return Primality::kProbablyPrime;
}

// Miller-Rabin on number, with the refusal named after name.
bool IsPrime(const Limb* number, int16_t n, const char* name, std::string& reason) {
  switch (MillerRabin(number, n)) {
    case Primality::kProbablyPrime: return true;
    case Primality::kComposite: reason = std::string(name) + " is not prime"; return false;
    case Primality::kNoRandomness: break;
  }
  SetReason(reason, {}, "no random numbers for the primality test");
  return false;
}

// Whether every code point is well formed: no overlong forms, no
// surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    size_t length;
    uint32_t code, minimum;
    if ((lead & 0xE0) == 0xC0) {
      length = 2, code = lead & 0x1Fu, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, code = lead & 0x0Fu, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, code = lead & 0x07u, minimum = 0x10000;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3Fu);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads hex into limbs (n of them) and its significant bits into bits; a
// number too long for the limbs gets its bits and no limbs.  False when hex
// is not a hexadecimal number.
bool ParseHex(std::string_view hex, Limb* limbs, int n, int& bits) {
  if (hex.empty()) return false;
  for (const char c : hex) {
    if (HexDigit(c) < 0) return false;
  }
  hex.remove_prefix(std::min(hex.find_first_not_of('0'), hex.size()));
  bits = hex.empty() ? 0 : 4 * static_cast<int>(hex.size() - 1) + (32 - __builtin_clz(unsigned(HexDigit(hex[0]))));
  std::memset(limbs, 0, sizeof(Limb) * static_cast<size_t>(n));
  if (bits > 16 * n) return true;
  for (size_t i = 0; i < hex.size(); ++i) {
    const size_t nibble = hex.size() - 1 - i;
    limbs[nibble / 4] = static_cast<Limb>(limbs[nibble / 4] | HexDigit(hex[i]) << (4 * (nibble % 4)));
  }
  return true;
}

// The refusals that look at the text as a whole.
bool CheckText(std::string_view text, std::string& reason) {
  if (text.size() > kMaxKeyText) {
    SetReason(reason, {}, "too long for a public key file (over 64 KiB)");
  } else if (text.find('\0') != std::string_view::npos) {
    SetReason(reason, {}, "not a public key file: it holds a NUL byte");
  } else if (text.find_first_of("\x01\x02\x03\x04\x05\x06\x07\x08\x0B\x0C\x0E\x0F\x10\x11\x12\x13\x14\x15\x16\x17"
                                "\x18\x19\x1A\x1B\x1C\x1D\x1E\x1F\x7F") != std::string_view::npos) {
    SetReason(reason, {}, "not a public key file: it is not text (it holds control characters)");
  } else if (!IsValidUtf8(text)) {
    SetReason(reason, {}, "not a public key file: it is not valid UTF-8");
  } else if (text.find("-----BEGIN") != std::string_view::npos) {
    SetReason(reason, {}, "a private key file (an encrypted PEM block), not a public key");
  } else {
    return true;
  }
  return false;
}

bool ParseNumbers(std::string_view text, KeyNumbers& numbers, std::string& reason) {
  Limb* const targets[4] = {numbers.p, numbers.q, numbers.g, numbers.y};
  const int sizes[4] = {kPLimbs, kQLimbs, kPLimbs, kPLimbs};
  bool seen[4] = {};
  for (int line_number = 1; !text.empty(); ++line_number) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    line = Trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    const std::string where = "line " + std::to_string(line_number) + ": ";
    const size_t equals = line.find('=');
    const std::string_view name = Trim(line.substr(0, equals));
    if (equals != std::string_view::npos && name == "x") {
      SetReason(reason, {}, "a private key file (it holds x), not a public key");
      return false;
    }
    const size_t index = name.size() == 1 ? std::string_view(kNumberNames).find(name[0]) : std::string_view::npos;
    if (equals == std::string_view::npos || index == std::string_view::npos ||
        !ParseHex(Trim(line.substr(equals + 1)), targets[index], sizes[index], numbers.bits[index])) {
      SetReason(reason, where, "neither 'name = hex' for p, q, g or y, nor a comment, nor blank");
      return false;
    }
    if (seen[index]) {
      reason = where + std::string(name) + " given twice";
      return false;
    }
    seen[index] = true;
  }
  for (int i = 0; i < 4; ++i) {
    if (!seen[i]) {
      reason = std::string("no '") + kNumberNames[i] + " = hex' line";
      return false;
    }
  }
  return true;
}

// Whether a, of n limbs, lies in [2, m - 1].
bool BetweenTwoAndM(const Limb* a, const Limb* m, int16_t n) {
  return limbs_compare(a, m, n) < 0 && !(IsZero(a + 1, n - 1) && a[0] < 2);
}

// a^q = 1 mod p for a in [2, p - 1]: the order of a is the prime q.  Leaves
// a's Montgomery form, fully reduced, in a_mont.
bool HasOrderQ(const Limb* a, int bits, const Modulus& p, const Limb* q, Limb* a_mont) {
  if (bits > 512 || !BetweenTwoAndM(a, p.m, kPLimbs)) return false;
  mont_mul(a, p.r_squared, a_mont, p.m, p.factor, kPLimbs);
  ReduceOnce(a_mont, p.m, kPLimbs);
  Limb power[kPLimbs];
  MontPow(a_mont, q, kQLimbs, p, power);
  return limbs_compare(power, p.one, kPLimbs) == 0;
}

// Upper-case hex without leading zeros, as the key ID hashes it.
void AppendHex(std::string& out, const Limb* limbs, int n) {
  static const char kDigits[] = "0123456789ABCDEF";
  bool leading = true;
  for (int nibble = 4 * n - 1; nibble >= 0; --nibble) {
    const int digit = (limbs[nibble / 4] >> (4 * (nibble % 4))) & 15;
    if (digit == 0 && leading && nibble > 0) continue;
    leading = false;
    out += kDigits[digit];
  }
}

// The ID as `signtool id` computes it: the first 16 hex digits of the
// SHA-256 of "p=P\nq=Q\ng=G\ny=Y\n".
void KeyId(const KeyNumbers& numbers, char id[17]) {
  std::string canonical;
  const Limb* const values[4] = {numbers.p, numbers.q, numbers.g, numbers.y};
  for (int i = 0; i < 4; ++i) {
    canonical += kNumberNames[i];
    canonical += '=';
    AppendHex(canonical, values[i], i == 1 ? kQLimbs : kPLimbs);
    canonical += '\n';
  }
  uint8_t digest[32];
  Sha256Digest(reinterpret_cast<const uint8_t*>(canonical.data()), static_cast<uint32_t>(canonical.size()), digest);
  static const char kDigits[] = "0123456789abcdef";
  for (int i = 0; i < 8; ++i) {
    id[2 * i] = kDigits[digest[i] >> 4];
    id[2 * i + 1] = kDigits[digest[i] & 15];
  }
  id[16] = '\0';
}

// The refusals of the numbers themselves, cheapest first; derives the
// domain on the way.
bool CheckDomain(const KeyNumbers& numbers, DsaDomain& domain, std::string& reason) {
  if (numbers.bits[0] != 512) {
    SetReason(reason, {}, "p must have exactly 512 bits");
  } else if (numbers.p[kPLimbs - 1] == 0xFFFF) {
    SetReason(reason, {}, "p must lie below 2^512 - 2^496 (its top 16 bits not all set)");
  } else if (numbers.bits[1] != 160) {
    SetReason(reason, {}, "q must have exactly 160 bits");
  } else if ((numbers.q[0] & 1) == 0) {
    SetReason(reason, {}, "q is not prime");
  } else if ((numbers.p[0] & 1) == 0) {
    SetReason(reason, {}, "p is not prime");
  } else {
    reason.clear();
  }
  if (!reason.empty()) return false;

  Modulus q;
  SetUpModulus(numbers.q, kQLimbs, q);
  // (p - 1) * 2^-512 mod q, at most q: 0 or q exactly when q divides p - 1.
  Limb remainder[kPLimbs];
  std::memcpy(remainder, numbers.p, sizeof remainder);
  remainder[0] = static_cast<Limb>(remainder[0] - 1);
  mont_reduce(remainder, numbers.q, q.factor, kPLimbs, kQLimbs, 32);
  if (!IsZero(remainder, kQLimbs) && limbs_compare(remainder, numbers.q, kQLimbs) != 0) {
    SetReason(reason, {}, "q does not divide p - 1");
    return false;
  }
  // q first: the cheaper test, and a composite q refuses the key as surely.
  if (!IsPrime(numbers.q, kQLimbs, "q", reason) || !IsPrime(numbers.p, kPLimbs, "p", reason)) return false;

  std::memcpy(domain.p, numbers.p, sizeof domain.p);
  std::memcpy(domain.q, numbers.q, sizeof domain.q);
  domain.factor_q = q.factor;
  std::memcpy(domain.q_r_squared, q.r_squared, sizeof domain.q_r_squared);
  // From 2^320 on to 2^672.
  std::memcpy(domain.q_correction, q.r_squared, sizeof domain.q_correction);
  for (int i = 320; i < 672; ++i) ModDouble(domain.q_correction, numbers.q, kQLimbs);
  return true;
}

}  // namespace

bool LoadPublicKey(std::string_view text, PublicKey& key, std::string& reason) {
  KeyNumbers numbers;
  DsaDomain domain;
  if (!CheckText(text, reason) || !ParseNumbers(text, numbers, reason) || !CheckDomain(numbers, domain, reason)) {
    return false;
  }
  Modulus p;
  SetUpModulus(numbers.p, kPLimbs, p);
  domain.factor_p = p.factor;
  Limb g_mont[kPLimbs], y_mont[kPLimbs];
  if (!HasOrderQ(numbers.g, numbers.bits[2], p, numbers.q, g_mont)) {
    SetReason(reason, {}, "g does not have order q");
    return false;
  }
  if (!HasOrderQ(numbers.y, numbers.bits[3], p, numbers.q, y_mont)) {
    SetReason(reason, {}, "y does not have order q");
    return false;
  }
  key.domain = domain;
  build_power_table(g_mont, key.generator_powers, domain.p, domain.factor_p);
  build_power_table(y_mont, key.key_powers, domain.p, domain.factor_p);
  KeyId(numbers, key.id);
  return true;
}
