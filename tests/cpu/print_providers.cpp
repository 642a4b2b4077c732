// SPDX-License-Identifier: ISC
// Prints the variant each CPU-dispatched kernel chose in this process, one
// "kernel variant" line each, for the runs under other CPU models to compare
// with what those models can run.
#include <cstdio>

#include "dsa/limbs_paths.h"
#include "hash/sha0_paths.h"
#include "hash/sha256_compress.h"

int main() {
  std::printf("sha0 %s\nsha256 %s\nmont_mul32 %s\n", sha0::Selected().name, sha256::Selected().name,
              limbs::SelectedMontMul32().name);
  return 0;
}
