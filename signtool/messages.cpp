// SPDX-License-Identifier: ISC
#include "signtool/messages.h"

#include <cstdio>

namespace signtool {

std::string g_command;

namespace {

std::string Prefix() { return g_command.empty() ? "signtool: " : "signtool: " + g_command + ": "; }

}  // namespace

int Fail(const std::string& message) {
  std::fprintf(stderr, "%s%s\n", Prefix().c_str(), message.c_str());
  return kFailure;
}

void Warn(const std::string& message) { std::fprintf(stderr, "%swarning: %s\n", Prefix().c_str(), message.c_str()); }

int UsageError(const std::string& message) {
  std::fprintf(stderr, "%s%s (see signtool %s--help)\n", Prefix().c_str(), message.c_str(),
               g_command.empty() ? "" : (g_command + " ").c_str());
  return kUsage;
}

}  // namespace signtool
