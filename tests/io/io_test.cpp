// SPDX-License-Identifier: ISC
// Whole-file reading stops at its limit and says so; reads at an offset and
// to the end of a file give exactly the bytes there.
#include "io/io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

class IoTest : public testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/signcheck-io-XXXXXX";
    fd_ = mkstemp(name);
    ASSERT_GE(fd_, 0);
    unlink(name);
    ASSERT_EQ(io::WriteAll(fd_, kContent.data(), kContent.size()), 0);
  }
  void TearDown() override { close(fd_); }
  int Rewound() {
    lseek(fd_, 0, SEEK_SET);
    return fd_;
  }

  const std::string kContent = std::string(70000, 'a') + "end";
  int fd_ = -1;
};

TEST_F(IoTest, ReadAllTakesUpToItsLimitAndNoMore) {
  struct Row {
    size_t limit;
    int error;
  };
  for (const Row row :
       {Row{kContent.size() + 1, 0}, Row{kContent.size(), 0}, Row{kContent.size() - 1, EFBIG}, Row{0, EFBIG}}) {
    std::string content;
    EXPECT_EQ(io::ReadAll(Rewound(), content, row.limit), row.error) << "limit " << row.limit;
    if (row.error == 0) {
      EXPECT_EQ(content, kContent);
    } else {
      EXPECT_LE(content.size(), row.limit);
    }
  }
}

TEST_F(IoTest, ReadFullStopsAtTheEndAndReadFullAtAtItsOffset) {
  std::string buffer(kContent.size() + 10, '\0');
  const io::Filled whole = io::ReadFull(Rewound(), buffer.data(), buffer.size());
  EXPECT_EQ(whole.error, 0);
  EXPECT_EQ(buffer.substr(0, whole.count), kContent);

  const io::Filled tail = io::ReadFullAt(fd_, buffer.data(), 10, static_cast<off_t>(kContent.size() - 3));
  EXPECT_EQ(tail.error, 0);
  EXPECT_EQ(buffer.substr(0, tail.count), "end");

  const io::Filled failed = io::ReadFull(-1, buffer.data(), 1);
  EXPECT_EQ(failed.count, 0U);
  EXPECT_EQ(failed.error, EBADF);
}

}  // namespace
