// SPDX-License-Identifier: ISC
// signtool's messages: every failure is one line on stderr, naming the
// command, and status 1; usage errors name what is wrong and give status 2.
#pragma once

#include <string>

namespace signtool {

constexpr int kFailure = 1;
constexpr int kUsage = 2;

// The command being run, for messages; empty before one is known.
extern std::string g_command;

// Prints the message and gives kFailure.
int Fail(const std::string& message);

void Warn(const std::string& message);

// Prints the message with a pointer to --help and gives kUsage.
int UsageError(const std::string& message);

}  // namespace signtool
