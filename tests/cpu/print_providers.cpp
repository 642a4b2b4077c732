// SPDX-License-Identifier: ISC
// Prints the variant each CPU-dispatched kernel chose in this process, one
// "kernel variant" line each, for the runs under other CPU models to compare
// with what those models can run.
#include <cstdio>

#include "hash/sha256_compress.h"
#include "dsa/limbs_paths.h"
#include "hash/sha0_paths.h"

int main() {
  std::printf("sha0 %s\nsha256 %s\nmont_mul32 %s\n", sha0::Provider(), sha256::Provider(), limbs::MontMul32Provider());
  return 0;
}
