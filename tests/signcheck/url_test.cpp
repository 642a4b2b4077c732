// SPDX-License-Identifier: ISC
// URL list files (mode url), checked in memory.
#include <gtest/gtest.h>

#include <string>

#include "signcheck/url_file_check.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::Capture;
using testing_support::Outcome;
using testing_support::SignText;

Outcome Check(const std::string& content) {
  return Capture([&](FILE* out) { return UrlContentCheckSign(content, "mirrors.url", out); });
}

const char kParse[] = "Parse url file mirrors.url...\n";
const std::string kContent = "http://one.example/\r\nhttp://two.example/\r\n";
const std::string kText = SignText(kContent);

std::string Wrong(const std::string& text) {
  return kParse + ("Signature: " + text + "\n") + "Wrong signature " + text + " in url file mirrors.url\n";
}

TEST(UrlFileTest, ValidFilePrintsTheParseAndSignatureLines) {
  SKIP_WITHOUT_TEST_KEY();
  const Outcome outcome = Check("[signature]\r\n" + kText + "\r\n" + kContent);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, kParse + ("Signature: " + kText + "\n"));
}

TEST(UrlFileTest, WhitespaceAroundTheTextAndBytesBeforeTheMarkerAreFree) {
  SKIP_WITHOUT_TEST_KEY();
  for (const std::string& file : {
           "[signature]\n" + kText + "\n" + kContent,
           "anything\n\x01\xff[signature]\r\n \t" + kText + " \v\f\r\n\n" + kContent,
           "[signature]X" + kText + "\t" + kContent,  // the byte after the marker is skipped unexamined
       }) {
    EXPECT_EQ(Check(file).status, 0) << file;
  }
}

TEST(UrlFileTest, EveryByteOfTheSignedContentCounts) {
  SKIP_WITHOUT_TEST_KEY();
  const std::string head = "[signature]\r\n" + kText + "\r\n";
  ASSERT_EQ(Check(head + kContent).status, 0);
  for (size_t i = 0; i < kContent.size(); ++i) {
    std::string content = kContent;
    content[i] = content[i] == '#' ? '%' : '#';
    EXPECT_EQ(Check(head + content).status, 70) << "byte " << i;
  }
  EXPECT_EQ(Check(head + kContent + "\n").status, 70);
  EXPECT_EQ(Check(head + kContent.substr(0, kContent.size() - 1)).status, 70);
}

TEST(UrlFileTest, MissingMarker) {
  const std::string expected = kParse + std::string("Can`t find signature in url file mirrors.url\n");
  for (const std::string& file : {
           kContent,
           "[Signature]\r\n" + kText + "\r\n" + kContent,                          // other letter case
           std::string("x\0", 2) + "[signature]\r\n" + kText + "\r\n" + kContent,  // NUL hides the marker
           std::string("[signature"),
       }) {
    const Outcome outcome = Check(file);
    EXPECT_EQ(outcome.status, 70) << file;
    EXPECT_EQ(outcome.output, expected) << file;
  }
}

TEST(UrlFileTest, TheMarkerIsFoundAcrossSearchWindowsUpToTheFirstNul) {
  for (size_t start = kUrlSearchWindow - kUrlMarker.size() - 1; start <= kUrlSearchWindow + 1; ++start) {
    std::string file(2 * kUrlSearchWindow, 'x');
    file.replace(start, kUrlMarker.size(), kUrlMarker);
    std::string nul_after = file;
    nul_after[start + kUrlMarker.size()] = '\0';
    EXPECT_EQ(FindUrlMarker(nul_after), start);
    std::string nul_before = file;
    nul_before[start - 1] = '\0';
    EXPECT_EQ(FindUrlMarker(nul_before), std::string_view::npos);
  }
}

TEST(UrlFileTest, MarkerRightBeforeTheDigitsLosesTheFirstDigit) {
  const Outcome outcome = Check("[signature]" + kText + "\r\n" + kContent);
  EXPECT_EQ(outcome.status, 70);
  EXPECT_EQ(outcome.output, Wrong(kText.substr(1)));
}

TEST(UrlFileTest, EmptySignedContent) {
  SKIP_WITHOUT_TEST_KEY();
  EXPECT_EQ(Check("[signature]\r\n" + SignText("")).status, 0);
  EXPECT_EQ(Check("[signature]\r\n" + SignText("") + "\r\n\t ").status, 0);
}

TEST(UrlFileTest, FileEndingAtTheMarkerHasAnEmptyText) {
  for (const std::string& file : {std::string("[signature]"), std::string("[signature]\n")}) {
    const Outcome outcome = Check(file);
    EXPECT_EQ(outcome.status, 70);
    EXPECT_EQ(outcome.output, Wrong(""));
  }
}

TEST(UrlFileTest, SignatureTextForms) {
  SKIP_WITHOUT_TEST_KEY();
  std::string lower = kText;
  for (char& c : lower) c = static_cast<char>(std::tolower(c));
  EXPECT_EQ(Check("[signature]\r\n" + lower + "\r\n" + kContent).status, 0);

  const Outcome longer = Check("[signature]\r\n" + kText + "ZZ\r\n" + kContent);
  EXPECT_EQ(longer.status, 0);
  EXPECT_EQ(longer.output, kParse + ("Signature: " + kText + "ZZ\n"));
  // A text of 79 digits: the missing one reads as the end of the text.
  const std::string cut = testing_support::SignTextCutTo79Digits(kContent);
  EXPECT_EQ(Check("[signature]\r\n" + cut + "\r\n" + kContent).output, kParse + ("Signature: " + cut + "\n"));

  const std::string foreign = testing_support::kForeignSignature;
  EXPECT_EQ(Check("[signature]\r\n" + foreign + "\r\n" + kContent).output, Wrong(foreign));

  // A NUL inside the text ends it when printed, not when decoded.
  const std::string with_nul = kText.substr(0, 10) + std::string(1, '\0') + kText.substr(11);
  const Outcome nul = Check("[signature]\r\n" + with_nul + "\r\n" + kContent);
  EXPECT_EQ(nul.status, 70);
  EXPECT_EQ(nul.output, Wrong(kText.substr(0, 10)));
}

}  // namespace
