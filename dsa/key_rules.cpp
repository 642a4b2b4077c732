// SPDX-License-Identifier: ISC
#include "dsa/key_rules.h"

#include <cstring>

#include "dsa/key_modular.h"
#include "dsa/key_primality.h"

namespace {

// Sets reason to "origin: text".  Out of line, so that the compiler keeps
// each text whole in the binary rather than spelling it out in immediate
// stores, whose pieces read as misspelt words.
[[gnu::noinline]] bool Refuse(std::string& reason, std::string_view origin, const char* text) {
  SetKeyRefusal(reason, origin, 0, text);
  return false;
}

// Random Miller-Rabin rounds after Baillie-PSW.  For q they are cheap (160
// bits) and bound any composite, however built, below 4^-40 = 2^-80 alone.
// For p each costs about a seventh of a whole key load (some 40 us with
// mulx, 100 us without); Baillie-PSW, which no known composite passes,
// carries p's certainty, and the rounds add a bound of their own,
// 4^-kPRounds = 2^-6, that holds even against a composite built to pass it.
// More would take the load past 1 ms on CPUs without mulx/adcx/adox.
constexpr int kQRounds = 40;
constexpr int kPRounds = 3;

bool Prime(const Limb* number, int16_t n, int rounds, const char* composite, std::string_view origin,
           std::string& reason) {
  switch (TestPrimality(number, n, rounds)) {
    case Primality::kProbablyPrime: return true;
    case Primality::kComposite: return Refuse(reason, origin, composite);
    case Primality::kNoRandomness: break;
  }
  return Refuse(reason, origin, "no random numbers for the primality test");
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

// 0 < x < q and g^x = y, with g and y in Montgomery form.
bool PrivateRules(const KeyNumbers& n, const Modulus& p, const CheckedKey& key, std::string_view origin,
                  std::string& reason) {
  if (n.bits[4] > 160 || IsZero(n.x, kQLimbs) || limbs_compare(n.x, n.q, kQLimbs) >= 0) {
    return Refuse(reason, origin, "x must lie between 1 and q - 1");
  }
  Limb g_to_x[kPLimbs];
  PowSecretExponent(key.g_mont, n.x, kQLimbs, p, g_to_x);
  if (limbs_compare(g_to_x, key.y_mont, kPLimbs) != 0) return Refuse(reason, origin, "y is not g^x mod p");
  return true;
}

}  // namespace

bool CheckKeyRules(const KeyNumbers& n, bool with_private, std::string_view origin, std::string& reason,
                   CheckedKey* checked) {
  // The cheap refusals first.
  if (n.bits[0] != 512) return Refuse(reason, origin, "p must have exactly 512 bits");
  // The verification leaves Montgomery form with 512-bit steps that keep no
  // carry past the top limb: exact only while p's top 16 bits are not all set.
  if (n.p[kPLimbs - 1] == 0xFFFF) {
    return Refuse(reason, origin, "p must lie below 2^512 - 2^496 (its top 16 bits not all set)");
  }
  if (n.bits[1] != 160) return Refuse(reason, origin, "q must have exactly 160 bits");
  if ((n.q[0] & 1) == 0) return Refuse(reason, origin, "q is not prime");
  if ((n.p[0] & 1) == 0) return Refuse(reason, origin, "p is not prime");

  CheckedKey key;
  Modulus q;
  SetUpModulus(n.q, kQLimbs, q);
  // (p - 1) * 2^-512 mod q, at most q: 0 or q exactly when q divides p - 1.
  Limb remainder[kPLimbs];
  std::memcpy(remainder, n.p, sizeof remainder);
  remainder[0] = static_cast<Limb>(remainder[0] - 1);
  mont_reduce(remainder, n.q, q.factor, kPLimbs, kQLimbs, 32);
  if (!IsZero(remainder, kQLimbs) && limbs_compare(remainder, n.q, kQLimbs) != 0) {
    return Refuse(reason, origin, "q does not divide p - 1");
  }
  // q first: the cheaper test, and a composite q refuses the key as surely.
  if (!Prime(n.q, kQLimbs, kQRounds, "q is not prime", origin, reason) ||
      !Prime(n.p, kPLimbs, kPRounds, "p is not prime", origin, reason)) {
    return false;
  }
  Modulus p;
  SetUpModulus(n.p, kPLimbs, p);
  if (!HasOrderQ(n.g, n.bits[2], p, n.q, key.g_mont)) return Refuse(reason, origin, "g does not have order q");
  if (!HasOrderQ(n.y, n.bits[3], p, n.q, key.y_mont)) return Refuse(reason, origin, "y does not have order q");
  if (with_private && !PrivateRules(n, p, key, origin, reason)) return false;
  if (checked == nullptr) return true;

  DsaDomain& domain = key.domain;
  std::memcpy(domain.p, n.p, sizeof domain.p);
  std::memcpy(domain.q, n.q, sizeof domain.q);
  domain.factor_p = p.factor;
  domain.factor_q = q.factor;
  std::memcpy(domain.q_r_squared, q.r_squared, sizeof domain.q_r_squared);
  // From 2^320 on to 2^672.
  std::memcpy(domain.q_correction, q.r_squared, sizeof domain.q_correction);
  for (int i = 320; i < 672; ++i) ModDouble(domain.q_correction, n.q, kQLimbs);
  *checked = key;
  return true;
}

bool ReadPublicKey(std::string_view text, std::string_view origin, KeyNumbers& numbers, std::string& reason,
                   CheckedKey* checked) {
  if (!ReadKeyText(text, origin, numbers, reason)) return false;
  if (numbers.form != KeyForm::kPublic) {
    // signtool keygen writes the pair as NAME.key and NAME.pub.
    std::string refusal = "a private key, not a public one: give its public key file (";
    if (origin.size() > 4 && origin.substr(origin.size() - 4) == ".key") {
      refusal.append(origin.substr(0, origin.size() - 4)).append(".pub");
    } else {
      refusal.append("the NAME.pub that signtool keygen wrote beside NAME.key");
    }
    SetKeyRefusal(reason, origin, 0, refusal.append(") instead"));
    return false;
  }
  return CheckKeyRules(numbers, false, origin, reason, checked);
}
