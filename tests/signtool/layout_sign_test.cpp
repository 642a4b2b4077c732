// SPDX-License-Identifier: ISC
// Signing in every layout: what signtool sign --mode writes must be accepted
// by the checks, and every signed byte must count.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "signcheck/lst_file_check.h"
#include "signcheck/tagged_file_check.h"
#include "signcheck/url_file_check.h"
#include "signtool/layout_sign.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::Capture;
using testing_support::RandomText;

struct Signed {
  bool ok = false;
  std::string output;
  std::string error;
  std::string signed_bytes;  // what the signer was given
};

// The layout of a mode word; the tests name their layouts by word.
CheckMode ModeOf(std::string_view word) {
  CheckMode mode = CheckMode::kNvl;
  EXPECT_TRUE(MatchModeWord(std::string(word).c_str(), mode)) << word;
  return mode;
}

Signed Sign(std::string_view mode, std::string_view input) {
  Signed result;
  result.ok = SignInLayout(
      ModeOf(mode), input,
      [&result](std::string_view bytes) {
        result.signed_bytes = bytes;
        return testing_support::SignText(bytes);
      },
      result.output, result.error);
  return result;
}

int CheckStatus(std::string_view mode, const std::string& content) {
  return Capture([&](FILE* out) {
           if (mode == "nvl") return TaggedContentCheckSign(content, "f", CheckMode::kNvl, out);
           if (mode == "msg") return TaggedContentCheckSign(content, "f", CheckMode::kMsg, out);
           if (mode == "lst") return LstContentCheckSign(content, "f", out);
           return UrlContentCheckSign(content, "f", out);
         })
      .status;
}

TEST(LayoutSignTaggedTest, ReplacesOldSignatureLinesAndSignsLast) {
  SKIP_WITHOUT_TEST_KEY();
  const Signed result = Sign("nvl", "sign=00\r\nurl=http://a/\r\nSIGN=11\r\nUrl=http://b/");
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.signed_bytes, "url=http://a/\r\nUrl=http://b/\r\n");
  EXPECT_EQ(result.output.substr(0, result.output.rfind("sign=")), result.signed_bytes);
  EXPECT_EQ(CheckStatus("nvl", result.output), 0);

  const Signed feeds = Sign("msg", "msg=one\nmsg=two");
  ASSERT_TRUE(feeds.ok) << feeds.error;
  EXPECT_EQ(feeds.signed_bytes, "msg=one\nmsg=two\n");  // the file's own line end
  EXPECT_EQ(CheckStatus("msg", feeds.output), 0);
}

TEST(LayoutSignTaggedTest, RefusesWhatTheCheckerWouldReadDifferently) {
  EXPECT_FALSE(Sign("nvl", "url=" + std::string(1017, 'a') + "\r\n").ok);  // 1023 bytes
  EXPECT_TRUE(Sign("nvl", "url=" + std::string(1016, 'a') + "\r\n").ok);   // 1022 bytes
  EXPECT_FALSE(Sign("nvl", std::string("url=a\0b\r\n", 9)).ok);
  EXPECT_FALSE(Sign("nvl", "msg=only messages\r\n").ok);  // nothing to list
  const Signed empty = Sign("msg", "");
  EXPECT_FALSE(empty.ok);
  EXPECT_NE(empty.error.find("msg="), std::string::npos);
  EXPECT_EQ(empty.error.find('\n'), std::string::npos);
}

const std::string kRegion = "[NorvuUpdateList]\r\na=1\r\n[NorvuUpdateListEnd]\r\n";

TEST(LayoutSignLstTest, PlacesTheSignatureWhereTheCheckerLooks) {
  SKIP_WITHOUT_TEST_KEY();
  for (const std::string& after : {
           std::string(),                                           // section appended
           std::string("tail"),                                     // appended after a line end
           std::string("[Signature]\r\nSignature=OLD\r\nx=1\r\n"),  // value replaced
           std::string("[Signature]\r\nSignature=\r\nx=1\r\n"),     // empty value filled
           std::string("[Signature]\r\nx=1\r\n"),                   // key added under the header
           std::string("[Signature]"),
       }) {
    const Signed result = Sign("lst", "head\r\n" + kRegion + after);
    ASSERT_TRUE(result.ok) << after << ": " << result.error;
    EXPECT_EQ(result.signed_bytes, kRegion);
    EXPECT_EQ(CheckStatus("lst", result.output), 0) << result.output;
  }
  const Signed replaced = Sign("lst", kRegion + "[Signature]\r\nSignature= OLD\r\nx=1\r\n");
  ASSERT_TRUE(replaced.ok);
  EXPECT_EQ(replaced.output.size(), kRegion.size() + 31 + 80);
  EXPECT_EQ(replaced.output.find("OLD"), std::string::npos);
  EXPECT_NE(replaced.output.find("x=1\r\n"), std::string::npos);
}

TEST(LayoutSignLstTest, RefusesFilesWithoutARegionOrWithTheSignatureInside) {
  EXPECT_FALSE(Sign("lst", "[NorvuUpdateList]\r\n[NorvuUpdateListEnd]\n").ok);
  EXPECT_FALSE(Sign("lst", "[NorvuUpdateListEnd]\r\n[NorvuUpdateList]\r\n").ok);
  EXPECT_FALSE(Sign("lst", "").ok);
  EXPECT_FALSE(Sign("lst", std::string("x\0", 2) + kRegion).ok);  // nothing signed would be shown
  EXPECT_FALSE(Sign("lst", "[Signature]\r\n[NorvuUpdateList]\r\nSignature=1\r\n[NorvuUpdateListEnd]\r\n").ok);
}

TEST(LayoutSignUrlTest, PutsTheSignatureAheadOfTheContent) {
  SKIP_WITHOUT_TEST_KEY();
  const Signed result = Sign("url", "http://a/\n");
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.output.substr(0, 13), "[signature]\r\n");
  EXPECT_EQ(result.signed_bytes, "http://a/\n");
  EXPECT_EQ(CheckStatus("url", result.output), 0);
  EXPECT_EQ(CheckStatus("url", Sign("url", "").output), 0);
  EXPECT_FALSE(Sign("url", "\nhttp://a/\n").ok);
  EXPECT_FALSE(Sign("url", " x").ok);
}

TEST(LayoutSignTest, BadSignerIsAnError) {
  std::string output;
  std::string error;
  EXPECT_FALSE(SignInLayout(
      CheckMode::kUrl, "x", [](std::string_view) { return std::string("12"); }, output, error));
  EXPECT_FALSE(error.empty());
}

// Random files in every layout: signed, they pass; any signed byte changed,
// they fail with 70.
class LayoutSignPropertyTest : public ::testing::TestWithParam<const char*> {};

std::string RandomInput(std::string_view mode, std::mt19937& random) {
  const std::string alphabet = "abcXYZ019=:/. \t\r\n[]#";
  const auto line = [&](std::string_view prefix) {
    return std::string(prefix) + RandomText(random, random() % 40, "abcXYZ019=:/. #[]") + "\r\n";
  };
  std::string input;
  if (mode == "nvl" || mode == "msg") {
    const std::string tag = mode == "nvl" ? "url=" : "MSG=";
    const auto lines = 1 + random() % 6;
    for (decltype(random()) i = 0; i < lines; ++i) input += line(random() % 3 == 0 ? "note " : tag);
    input += line(tag);
  } else if (mode == "lst") {
    input = line("; ") + "[NorvuUpdateList]\r\n" + line("") + line("") + "[NorvuUpdateListEnd]\r\n" + line("");
  } else {
    input = "x" + RandomText(random, random() % 300, alphabet);
  }
  return input;
}

TEST_P(LayoutSignPropertyTest, SignedFilesPassAndEverySignedByteCounts) {
  SKIP_WITHOUT_TEST_KEY();
  const std::string mode = GetParam();
  std::mt19937 random(42);
  for (int round = 0; round < 12; ++round) {
    const Signed result = Sign(mode, RandomInput(mode, random));
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(CheckStatus(mode, result.output), 0) << result.output;
    // The checks' own locators find the signed bytes where the signer put them.
    if (mode == "lst") {
      const LstLayout layout = LocateLstLayout(result.output);
      EXPECT_EQ(result.output.substr(layout.region_begin, layout.region_size), result.signed_bytes);
    } else if (mode == "url") {
      EXPECT_EQ(result.output.substr(LocateUrlLayout(result.output).signed_begin), result.signed_bytes);
    } else {
      EXPECT_EQ(LocateTaggedLayout(result.output, mode == "nvl" ? "url=" : "msg=").list.signed_data,
                result.signed_bytes);
    }

    for (int change = 0; change < 6; ++change) {
      // nvl, msg: a byte of a tagged line; lst, url: of the one signed run.
      size_t at = result.output.find(result.signed_bytes) + random() % result.signed_bytes.size();
      if (mode == "nvl" || mode == "msg") {
        std::vector<std::pair<size_t, size_t>> tagged;  // begin, size
        for (size_t begin = 0; begin < result.output.size();) {
          const size_t end = result.output.find('\n', begin) + 1;
          if (result.signed_bytes.find(result.output.substr(begin, end - begin)) != std::string::npos &&
              result.output.compare(begin, 5, "sign=") != 0) {
            tagged.emplace_back(begin, end - begin);
          }
          begin = end;
        }
        const auto [begin, size] = tagged[random() % tagged.size()];
        at = begin + random() % size;
      }
      const char byte = result.output[at];
      std::string changed = result.output;
      changed[at] = static_cast<char>(static_cast<unsigned char>(byte) ^ (1 + random() % 255));
      EXPECT_EQ(CheckStatus(mode, changed), 70) << "round " << round << ", byte " << at;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryLayout, LayoutSignPropertyTest, ::testing::Values("nvl", "msg", "lst", "url"),
                         [](const auto& test) { return std::string(test.param); });

}  // namespace
