// SPDX-License-Identifier: ISC
// Many buffers checked from several threads at once, each thread with its
// own result, must get the answers one thread gets.  Run under
// ThreadSanitizer by the tsan preset.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "lib/signcheck.h"
#include "tests/support/test_support.h"

namespace {

struct Answer {
  int status = -1;
  std::vector<std::pair<size_t, size_t>> spans;  // offset into the buffer, size
  std::string message;
  bool operator==(const Answer&) const = default;
};

struct Input {
  const char* mode;
  std::string file;
};

Answer Check(signcheck_result* result, const Input& input) {
  Answer answer;
  answer.status = signcheck_check_buffer(result, input.mode, input.file.data(), input.file.size(), "in");
  for (size_t i = 0; i < signcheck_result_span_count(result); ++i) {
    const signcheck_span span = signcheck_result_span(result, i);
    answer.spans.emplace_back(static_cast<size_t>(reinterpret_cast<const char*>(span.data) - input.file.data()),
                              span.size);
  }
  answer.message.resize(signcheck_result_message(result, nullptr, 0));
  signcheck_result_message(result, answer.message.data(), answer.message.size() + 1);
  return answer;
}

// Signed and tampered files in every mode, with lists of varied length.
std::vector<Input> Inputs() {
  std::mt19937 random(16);
  std::vector<Input> inputs;
  for (int i = 0; i < 24; ++i) {
    std::string entries;
    for (int n = i % 7; n-- > 0;) entries += "url=http://h/" + testing_support::RandomText(random, 12, "abc") + "\r\n";
    const std::string text = testing_support::SignText(entries);
    const std::string region = "[NorvuUpdateList]\r\n" + entries + "[NorvuUpdateListEnd]\r\n";
    inputs.push_back({"nvl", entries + "sign=" + text + "\r\n"});
    inputs.push_back({"msg", entries + "sign=" + text + "\r\n"});
    inputs.push_back({"lst", region + "[Signature]\r\nSignature=" + testing_support::SignText(region)});
    inputs.push_back({"url", "[signature]\n" + text + "\n" + entries});
    if (i % 3 == 0) inputs.back().file += "tampered";
  }
  return inputs;
}

TEST(LibraryThreadTest, ThreadsAtOnceGetTheAnswersOfOneThread) {
  const std::vector<Input> inputs = Inputs();
  std::vector<Answer> expected;
  signcheck_result* const one = signcheck_result_new();
  for (const Input& input : inputs) expected.push_back(Check(one, input));
  signcheck_result_free(one);

  constexpr int kThreads = 4;
  std::vector<std::vector<Answer>> answers(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      signcheck_result* const result = signcheck_result_new();
      answers[static_cast<size_t>(t)].resize(inputs.size());
      // Each thread in an order of its own, so that different checks overlap.
      std::vector<size_t> order(inputs.size());
      for (size_t i = 0; i < order.size(); ++i) order[i] = i;
      std::shuffle(order.begin(), order.end(), std::mt19937(static_cast<unsigned>(t)));
      for (int round = 0; round < 3; ++round) {
        for (const size_t i : order) answers[static_cast<size_t>(t)][i] = Check(result, inputs[i]);
      }
      signcheck_result_free(result);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    for (size_t i = 0; i < inputs.size(); ++i) {
      EXPECT_TRUE(answers[static_cast<size_t>(t)][i] == expected[i])
          << "thread " << t << ", " << inputs[i].mode << " input " << i;
    }
  }
}

}  // namespace
