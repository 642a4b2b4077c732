// SPDX-License-Identifier: ISC
// Update list files (mode lst), checked in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "signcheck/lst_file_check.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::Capture;
using testing_support::Outcome;
using testing_support::SignText;

Outcome Check(const std::string& content) {
  return Capture([&](FILE* out) { return LstContentCheckSign(content, "updates.lst", out); });
}

const char kNoRegion[] = "Can`t find signed data in lst file updates.lst\n";
const char kNoSignature[] = "Can`t find signature in lst file updates.lst\n";

const std::string kRegion = "[NorvuUpdateList]\r\nfile=a.bin\r\nsize=10\r\n[NorvuUpdateListEnd]\r\n";
const std::string kText = SignText(kRegion);

std::string Lst(const std::string& before, const std::string& region, const std::string& after) {
  return before + region + after;
}

TEST(LstFileTest, ValidFilePrintsTheWholeFile) {
  SKIP_WITHOUT_TEST_KEY();
  const std::string file = Lst("; header\r\n", kRegion, "[Signature]\r\nSignature=" + kText + "\r\n");
  const Outcome outcome = Check(file);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, file);
}

TEST(LstFileTest, OutputStopsAtTheFirstNulByte) {
  SKIP_WITHOUT_TEST_KEY();
  const std::string file = Lst("", kRegion, "[Signature]\r\nSignature=" + kText + "\r\n") + '\0' + "tail";
  const Outcome outcome = Check(file);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, file.substr(0, file.find('\0')));

  // Right after the end marker's CR LF: the region is whole, and shown.
  const std::string at_end = Lst("; header\r\n", kRegion, '\0' + ("[Signature]\r\nSignature=" + kText + "\r\n"));
  const Outcome region_only = Check(at_end);
  EXPECT_EQ(region_only.status, 0);
  EXPECT_EQ(region_only.output, "; header\r\n" + kRegion);
}

TEST(LstFileTest, NulByteBeforeTheRegionEndsIsNoSignedData) {
  SKIP_WITHOUT_TEST_KEY();
  const std::string sig = "[Signature]\r\nSignature=";
  using namespace std::string_literals;
  const std::string region_with_nul = "[NorvuUpdateList]\r\na\0b\r\n[NorvuUpdateListEnd]\r\n"s;
  for (const std::string& file : {
           "Version=6.6.6\r\nFile1=evil.bin\r\n\0"s + kRegion + sig + kText + "\r\n",  // nothing signed shown
           region_with_nul + sig + SignText(region_with_nul) + "\r\n",
       }) {
    const Outcome outcome = Check(file);
    EXPECT_EQ(outcome.status, 70);
    EXPECT_EQ(outcome.output, kNoRegion);
  }
}

TEST(LstFileTest, OnlyTheRegionIsSigned) {
  SKIP_WITHOUT_TEST_KEY();
  const std::string before = "x[Signature-not]\r\n";
  const std::string after = "trailing\r\n[Signature]\r\nSignature=" + kText + "\r\n";
  const std::string file = Lst(before, kRegion, after);
  for (size_t i = 0; i < file.size(); ++i) {
    const bool in_region = i >= before.size() && i < before.size() + kRegion.size();
    const auto within = [&](const std::string& part) {
      const size_t at = file.rfind(part);
      return i >= at && i < at + part.size();
    };
    // Breaking the section header, the key or the text loses the signature.
    const bool finds_signature = !within("[Signature]") && !within("Signature=") && !within(kText);
    std::string changed = file;
    if (within(kText)) {
      // Another digit: "%X" reads "00" and "0#" alike.
      changed[i] = changed[i] == 'F' ? 'E' : 'F';
    } else {
      changed[i] = changed[i] == '#' ? '%' : '#';
    }
    const int expected = in_region || !finds_signature ? 70 : 0;
    EXPECT_EQ(Check(changed).status, expected) << "byte " << i;
  }
}

TEST(LstFileTest, MarkersAreFoundAnywhereAndTheFirstCounts) {
  SKIP_WITHOUT_TEST_KEY();
  // Markers inside a line, and a second start and end marker.
  const std::string region = "[NorvuUpdateList] a\r\n[NorvuUpdateList]\r\nb [NorvuUpdateListEnd]\r\n";
  const std::string file = "x" + region + "[NorvuUpdateListEnd]\r\n[Signature] Signature=" + SignText(region);
  EXPECT_EQ(Check(file).status, 0);  // text at the very end, no line end
}

TEST(LstFileTest, MissingRegion) {
  const std::string sig = "[Signature]\r\nSignature=" + kText + "\r\n";
  for (const std::string& file : {
           "[NorvuUpdateListEnd]\r\n" + sig,                          // no start marker
           "[NorvuUpdateList]\r\n" + sig,                             // no end marker
           "[NorvuUpdateList]\r\n[NorvuUpdateListEnd]\n" + sig,       // end marker without CR
           "[NorvuUpdateListEnd]\r\n[NorvuUpdateList]\r\n" + sig,     // end before start
           "[NorvuUpdateListEnd]\r\n" + kRegion + sig,                // end before start, then a region
           std::string("[NorvuUpdateListEnd]\r\n[NorvuUpdateList]"),  // end before start, nothing after
       }) {
    const Outcome outcome = Check(file);
    EXPECT_EQ(outcome.status, 70) << file;
    EXPECT_EQ(outcome.output, kNoRegion) << file;
  }
}

TEST(LstFileTest, MissingSignature) {
  for (const std::string& after : {
           std::string(),
           "Signature=" + kText + "\r\n[Signature]\r\n",      // key only before the section
           std::string("[signature]\r\nSignature=") + kText,  // section in the wrong case
           std::string("[Signature]\r\nsignature=") + kText,
           std::string("[Signature]\r\nSignature="),
           std::string("[Signature]\r\nSignature= \t\r\n\v\f"),
       }) {
    const Outcome outcome = Check(kRegion + after);
    EXPECT_EQ(outcome.status, 70) << after;
    EXPECT_EQ(outcome.output, kNoSignature) << after;
  }
}

TEST(LstFileTest, SignatureTextForms) {
  SKIP_WITHOUT_TEST_KEY();
  std::string lower = kText;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
  EXPECT_EQ(Check(kRegion + "[Signature]\r\nSignature=" + lower + "\r\n").status, 0);
  // Whitespace, line ends included, may stand before the text.
  EXPECT_EQ(Check(kRegion + "[Signature]\r\nSignature=\r\n\t " + kText).status, 0);
  // A longer text verifies on its first 80 characters.
  EXPECT_EQ(Check(kRegion + "[Signature]\r\nSignature=" + kText + "XYZ\r\n").status, 0);
  // A text of 79 digits: the missing one reads as the end of the text.
  EXPECT_EQ(Check(kRegion + "[Signature]\r\nSignature=" + testing_support::SignTextCutTo79Digits(kRegion)).status, 0);
}

TEST(LstFileTest, WrongSignatureShowsTheWholeText) {
  const std::string long_text = testing_support::kForeignSignature + "-extra";
  Outcome outcome = Check(kRegion + "[Signature]\r\nSignature=" + long_text + "\r\n");
  EXPECT_EQ(outcome.status, 70);
  EXPECT_EQ(outcome.output, "Wrong signature " + long_text + " in lst file updates.lst\n");

  // 40 characters or fewer leave s zero; the text is shown as found.
  const std::string short_text = kText.substr(0, 40);
  outcome = Check(kRegion + "[Signature]\r\nSignature=" + short_text);
  EXPECT_EQ(outcome.status, 70);
  EXPECT_EQ(outcome.output, "Wrong signature " + short_text + " in lst file updates.lst\n");

  // A text cut short by one digit is a different signature.
  EXPECT_EQ(Check(kRegion + "[Signature]\r\nSignature=" + kText.substr(0, 79) + "\r\n").status, 70);
}

}  // namespace
