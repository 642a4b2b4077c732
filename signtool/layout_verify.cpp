// SPDX-License-Identifier: ISC
// OpenSSL's low-level DSA verification is the most direct match for a bare
// (r, s) over a digest we compute ourselves; its 3.x headers mark it
// deprecated, which is no news here.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "signtool/layout_verify.h"

#include <openssl/dsa.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "layouts/lst_layout.h"
#include "layouts/signature_text.h"
#include "layouts/tagged_pieces.h"
#include "layouts/url_layout.h"
#include "dsa/verify.h"

namespace {

struct DsaFree {
  void operator()(DSA* dsa) const { DSA_free(dsa); }
};
struct DsaSigFree {
  void operator()(DSA_SIG* sig) const { DSA_SIG_free(sig); }
};

constexpr int kHalf = kSignatureSize / 2;  // r, then s, least significant byte first

// DSA over the 20 big-endian bytes of the SHA-0 digest number of bytes.
bool DsaVerifies(const signtool::DsaKey& key, std::string_view bytes, const uint8_t* signature) {
  uint8_t digest[20];
  if (BN_bn2binpad(signtool::DigestNumber(bytes.data(), bytes.size()).get(), digest, sizeof digest) != sizeof digest) {
    return false;
  }
  const std::unique_ptr<DSA, DsaFree> dsa(DSA_new());
  const std::unique_ptr<DSA_SIG, DsaSigFree> sig(DSA_SIG_new());
  if (!dsa || !sig || DSA_set0_pqg(dsa.get(), BN_dup(key.p.get()), BN_dup(key.q.get()), BN_dup(key.g.get())) != 1 ||
      DSA_set0_key(dsa.get(), BN_dup(key.y.get()), nullptr) != 1 ||
      DSA_SIG_set0(sig.get(), BN_lebin2bn(signature, kHalf, nullptr), BN_lebin2bn(signature + kHalf, kHalf, nullptr)) !=
          1) {
    return false;
  }
  return DSA_do_verify(digest, sizeof digest, sig.get(), dsa.get()) == 1;
}

bool VerifyTagged(std::string_view tag, std::string_view content, const signtool::DsaKey& key, std::string& error) {
  const TaggedLayout layout = LocateTaggedLayout(content, tag);
  if (!layout.has_signature_line) {
    error = "no line begins with \"sign=\"";
    return false;
  }
  uint8_t signature[kTaggedSignatureBufferSize] = {};
  HexToBytes(std::string(layout.signature_text).c_str(), signature, sizeof signature);
  if (!DsaVerifies(key, layout.list.signed_data, signature)) {
    error = "the signature does not verify";
    return false;
  }
  if (layout.list.piece_held_nul) {
    error = "a signed line holds a NUL byte";
    return false;
  }
  if (layout.list.signed_data.empty()) {
    error = "the signature is valid, but no line before it begins with \"" + std::string(tag) + "\"";
    return false;
  }
  return true;
}

bool VerifyLst(std::string_view content, const signtool::DsaKey& key, std::string& error) {
  const LstLayout layout = LocateLstLayout(content);
  if (!layout.has_region) {
    error = "no signed region between \"[NorvuUpdateList]\" and \"[NorvuUpdateListEnd]\" CR LF";
    return false;
  }
  if (!layout.has_signature) {
    error = "no signature after \"Signature=\" in the \"[Signature]\" section";
    return false;
  }
  uint8_t signature[kSignatureSize];
  DecodeSignatureText(layout.signature_text, signature);
  if (!DsaVerifies(key, content.substr(layout.region_begin, layout.region_size), signature)) {
    error = "the signature does not verify";
    return false;
  }
  if (content.substr(0, layout.region_begin + layout.region_size).find('\0') != std::string_view::npos) {
    error = "a NUL byte stands before the end of the signed region";
    return false;
  }
  return true;
}

bool VerifyUrl(std::string_view content, const signtool::DsaKey& key, std::string& error) {
  const UrlLayout layout = LocateUrlLayout(content);
  if (!layout.has_marker) {
    error = "no \"[signature]\" marker";
    return false;
  }
  uint8_t signature[kSignatureSize];
  DecodeSignatureText(layout.signature_text, signature);
  if (!DsaVerifies(key, content.substr(layout.signed_begin), signature)) {
    error = "the signature does not verify";
    return false;
  }
  return true;
}

}  // namespace

bool VerifyInLayout(std::string_view mode, std::string_view content, const signtool::DsaKey& key, std::string& error) {
  if (mode == "nvl") return VerifyTagged("url=", content, key, error);
  if (mode == "msg") return VerifyTagged("msg=", content, key, error);
  if (mode == "lst") return VerifyLst(content, key, error);
  if (mode == "url") return VerifyUrl(content, key, error);
  error = "unknown mode '" + std::string(mode) + "' (expected nvl, msg, lst or url)";
  return false;
}
