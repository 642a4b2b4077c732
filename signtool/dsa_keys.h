// SPDX-License-Identifier: ISC
// Key files, key generation and signing for signtool, on OpenSSL's BIGNUM
// and CSPRNG.
#pragma once

#include <openssl/bn.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace signtool {

struct BnFree {
  void operator()(BIGNUM* bn) const { BN_clear_free(bn); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

inline constexpr int kPrimePBits = 512;
inline constexpr int kPrimeQBits = 160;

// A DSA domain (p, q, g) with public value y and, in a private key, x.
struct DsaKey {
  Bn p, q, g, y, x;  // x is null in a public key
  bool is_private() const { return x != nullptr; }
};

enum class KeyKind { kPublic, kPrivate };

// Reads a whole file, "-" standard input, of at most max_size bytes.  On
// failure (a directory, a larger file, no memory for the content) returns
// false with a one-line message naming the path.
bool ReadWholeFile(const std::string& path, std::string& content, std::string& error, size_t max_size = SIZE_MAX);

// Key files are a few hundred bytes; this bounds what reading one may cost.
inline constexpr size_t kMaxKeyFileSize = 64 * 1024;

// Text that must not outlive its use (a passphrase, a private key file's
// text): cleared with OPENSSL_cleanse before its memory is given back.  Reserve
// what it will hold first, so that growing it leaves no copy behind.
class Secret {
 public:
  Secret() = default;
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;
  ~Secret() { Clear(); }
  void Clear();
  std::string text;
};

// Where a passphrase comes from: the first line of a file, or, with no file,
// the controlling terminal (asked without echo).
struct PassphraseSource {
  std::string file;
};

// Reads a passphrase; with confirm, the terminal asks twice and both must
// agree.  `what` names the key in the prompt.  Fails with a one-line message
// (no terminal and no file, an empty passphrase, a mismatch); never waits on
// anything but a terminal.
bool ReadPassphrase(const PassphraseSource& source, const std::string& what, bool confirm, Secret& passphrase,
                    std::string& error);

// Reads a key file of `name = hex` lines (hex big-endian, `#` starts a
// comment), or a private key as encrypted PKCS#8 PEM.  A private file holds
// p, q, g, x and y; a public one p, q, g and y.  Asking for a public key
// accepts a private file too.  An encrypted key needs passphrase_source (null:
// fail and say so).  On failure returns false with a one-line message.
bool LoadKey(const std::string& path, KeyKind kind, DsaKey& key, std::string& error,
             const PassphraseSource* passphrase_source = nullptr);

// Parses the text of a key file of either form, as LoadKey does once it has
// read the file; `origin` names the file in messages.
bool ParseKeyText(const Secret& text, const std::string& origin, KeyKind kind, DsaKey& key, std::string& error,
                  const PassphraseSource* passphrase_source = nullptr);

// True when the file text is an encrypted PEM private key.
bool IsEncryptedKeyText(std::string_view text);

// The key ID that the first line of a key file written by signtool states
// ("# signtool private key ID: ..."), or empty when it states none, as in
// files written before the public file and the plain private one carried it.
// An encrypted key's ID is readable this way without its passphrase.
std::string StatedKeyId(std::string_view text);

// The key as encrypted PKCS#8 PEM: AES-256-CBC under a key from scrypt
// (N = 2^14, r = 8, p = 1, a fresh salt), by OpenSSL's PKCS#8 and PEM
// routines.  Returns false with a message on failure.
bool FormatEncryptedKey(const DsaKey& key, const Secret& passphrase, Secret& pem, std::string& error);

// Parses key file text; the same rules as LoadKey, with `origin` naming the
// source in messages.
bool ParseKey(std::string_view text, const std::string& origin, KeyKind kind, DsaKey& key, std::string& error);

// Checks sizes, primality, q | p - 1, that g and y have order q, and for a
// private key that y = g^x.  On failure returns false with a message.
bool CheckKey(const DsaKey& key, std::string& error);

// A fresh domain and key pair from OpenSSL's CSPRNG and primality tests.
bool GenerateKey(DsaKey& key, std::string& error);

// The text of a key file: `name = HEX` lines after a comment header whose
// first line states the key's ID.
std::string FormatKey(const DsaKey& key, KeyKind kind);

// The short ID of a key: the first 16 hex digits of the SHA-256 of
// "p=P\nq=Q\ng=G\ny=Y\n", each number in upper-case hex without leading
// zeros.  The same for the private and the public file of a key; the build
// computes it the same way from the public key file.
std::string KeyId(const DsaKey& key);

// The ID of keys/development.key, whose private half is public.
inline constexpr std::string_view kDevelopmentKeyId = "a86f61831c71892c";

// The 160-bit digest number of data: the five chaining words of the 1993 SHA
// digest, least significant first.
Bn DigestNumber(const void* data, size_t length);

// Signs the digest number h with a fresh CSPRNG nonce; r and s are 20 bytes
// each, least significant first, in signature[0..39].
bool SignDigest(const DsaKey& key, const BIGNUM* h, uint8_t signature[40], std::string& error);

// The 80 upper-case hex digits of a signature over data.
bool SignatureText(const DsaKey& key, const void* data, size_t length, std::string& text, std::string& error);

}  // namespace signtool
