// SPDX-License-Identifier: ISC
// Links in place of the run-time choice, so that filedigest-portable measures
// the program exactly as shipped except for the compression it runs.
#include "hash/sha256_compress.h"

namespace sha256 {

CompressFn SelectedCompress() { return &CompressPortable; }

}  // namespace sha256
