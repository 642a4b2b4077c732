// A stand-in for the signature verification, linked into the fuzz targets of
// the file checks so that they spend their time on parsing rather than on
// modular exponentiation (the real verification has a target of its own).
// It still digests every signed byte, so a wrong length or pointer shows up,
// and it accepts a signature that begins with the bytes 5A A5 so that the
// fuzzer reaches the success paths too.
#include "verify/verify.h"

namespace {

int Accept(const uint8_t* signature) {
  return signature[0] == 0x5A && signature[1] == 0xA5 ? kVerifyOk : kVerifyMismatch;
}

}  // namespace

int VerifyDigestSignature(const uint8_t*, const uint8_t* signature, const Sha0Context&) {
  return Accept(signature);
}

int VerifySignature(const void* data, int length, const uint8_t* key, const uint8_t* signature) {
  if (length < 0) __builtin_trap();
  return VerifySignatureLarge(data, static_cast<size_t>(length), key, signature);
}

int VerifySignatureLarge(const void* data, size_t length, const uint8_t* key, const uint8_t* signature) {
  Sha0Context context;
  Sha0Init(context);
  Sha0UpdateLarge(data, length, context);
  Sha0Final(context);
  return VerifyDigestSignature(key, signature, context);
}
