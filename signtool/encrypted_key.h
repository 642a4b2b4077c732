// SPDX-License-Identifier: ISC
// Private keys as encrypted PKCS#8 PEM.
#pragma once

#include <string>
#include <string_view>

#include "signtool/key_file.h"
#include "signtool/passphrase.h"
#include "signtool/secret.h"

namespace signtool {

// True when the key reader takes the text for an encrypted private key.
bool IsEncryptedKeyText(std::string_view text);

// Decrypts an encrypted PKCS#8 PEM key, asking passphrase_source for the
// passphrase (null: fail and say so); `origin` names the file in messages.
bool ParseEncryptedKey(const Secret& text, const std::string& origin, KeyKind kind,
                       const PassphraseSource* passphrase_source, DsaKey& key, std::string& error);

// The key as encrypted PKCS#8 PEM: AES-256-CBC under a key from scrypt
// (N = 2^14, r = 8, p = 1, a fresh salt), by OpenSSL's PKCS#8 and PEM
// routines.  Returns false with a message on failure.
bool FormatEncryptedKey(const DsaKey& key, const Secret& passphrase, Secret& pem, std::string& error);

}  // namespace signtool
