// SPDX-License-Identifier: ISC
// Key files for signtool: reading, checking, generating and writing keys,
// and their IDs, on OpenSSL's BIGNUM and CSPRNG.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "signtool/bignum.h"
#include "signtool/passphrase.h"
#include "signtool/secret.h"

namespace signtool {

inline constexpr int kPrimePBits = 512;
inline constexpr int kPrimeQBits = 160;

// A DSA domain (p, q, g) with public value y and, in a private key, x.
struct DsaKey {
  Bn p, q, g, y, x;  // x is null in a public key
  bool is_private() const { return x != nullptr; }
};

// kPublic takes the public half of any key file (what `signtool id` and
// `verify` need); kPublicFile only a public key file, refusing a private one
// with the name of the file to give instead (what is compiled in); kPrivate
// needs the private key.
enum class KeyKind { kPublic, kPublicFile, kPrivate };

// Key files are a few hundred bytes; this bounds what reading one may cost.
inline constexpr size_t kMaxKeyFileSize = 64 * 1024;

// Reads a key file by the one key reader (dsa/key_text.h) and judges it by
// the one set of key rules (dsa/key_rules.h): `name = hex` lines, or a
// private key as encrypted PKCS#8 PEM.  A private file holds
// p, q, g, x and y; a public one p, q, g and y.  Asking for a public key
// accepts a private file too.  An encrypted key needs passphrase_source (null:
// fail and say so).  On failure returns false with a one-line message.
bool LoadKey(const std::string& path, KeyKind kind, DsaKey& key, std::string& error,
             const PassphraseSource* passphrase_source = nullptr);

// Parses the text of a key file of either form, as LoadKey does once it has
// read the file; `origin` names the file in messages.
bool ParseKeyText(const Secret& text, const std::string& origin, KeyKind kind, DsaKey& key, std::string& error,
                  const PassphraseSource* passphrase_source = nullptr);

// The key ID that the first line of a key file written by signtool states
// ("# signtool private key ID: ..."), or empty when it states none, as in
// files written before the public file and the plain private one carried it.
// An encrypted key's ID is readable this way without its passphrase.
std::string StatedKeyId(std::string_view text);

// Parses key file text; the same rules as LoadKey, with `origin` naming the
// source in messages.
bool ParseKey(std::string_view text, const std::string& origin, KeyKind kind, DsaKey& key, std::string& error);

// The key rules (dsa/key_rules.h) on a key in memory: sizes, primality,
// q | p - 1, the orders of g and y, and for a private key 0 < x < q and
// y = g^x.  On failure returns false with the rule's message.
bool CheckKey(const DsaKey& key, std::string& error);

// A fresh domain and key pair from OpenSSL's CSPRNG and primality tests.
bool GenerateKey(DsaKey& key, std::string& error);

// The text of a key file: `name = HEX` lines after a comment header whose
// first line states the key's ID.
std::string FormatKey(const DsaKey& key, KeyKind kind);

// The short ID of a key: the first 16 hex digits of the SHA-256 of
// "p=P\nq=Q\ng=G\ny=Y\n", each number in upper-case hex without leading
// zeros (KeyIdOf, dsa/key_text.h).  The same for the private and the public
// file of a key; the build asks the same reader for it.
std::string KeyId(const DsaKey& key);

// The ID of keys/development.key, whose private half is public.
inline constexpr std::string_view kDevelopmentKeyId = "a86f61831c71892c";

}  // namespace signtool
