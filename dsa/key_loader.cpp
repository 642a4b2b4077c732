// SPDX-License-Identifier: ISC
#include "dsa/key_loader.h"

#include "dsa/key_rules.h"
#include "dsa/power_tables.h"

bool LoadPublicKey(std::string_view text, std::string_view origin, PublicKey& key, std::string& reason) {
  KeyNumbers numbers;
  CheckedKey checked;
  if (!ReadPublicKey(text, origin, numbers, reason, &checked)) return false;
  key.domain = checked.domain;
  build_power_table(checked.g_mont, key.generator_powers, checked.domain.p, checked.domain.factor_p);
  build_power_table(checked.y_mont, key.key_powers, checked.domain.p, checked.domain.factor_p);
  KeyIdOf(numbers, key.id);
  return true;
}
