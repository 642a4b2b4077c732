// SPDX-License-Identifier: ISC
// signtool's key library in one header, for the code that wants all of it:
// key files, passphrases, signing and the key constants.
#pragma once

#include "signtool/bignum.h"
#include "signtool/constants.h"
#include "signtool/encrypted_key.h"
#include "signtool/key_file.h"
#include "signtool/passphrase.h"
#include "signtool/read_file.h"
#include "signtool/secret.h"
#include "signtool/signing.h"
