#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quillet::capture::testing {

// A pipe standing in for the host's end of standard input or output.
class TestPipe {
 public:
  TestPipe() {
    std::array<int, 2> ends{};
    if (::pipe2(ends.data(), O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    readEnd_ = ends[0];
    writeEnd_ = ends[1];
  }
  ~TestPipe() {
    closeReadEnd();
    closeWriteEnd();
  }
  TestPipe(const TestPipe&) = delete;
  TestPipe& operator=(const TestPipe&) = delete;

  [[nodiscard]] int readEnd() const { return readEnd_; }
  [[nodiscard]] int writeEnd() const { return writeEnd_; }

  void closeReadEnd() { closeEnd(readEnd_); }
  void closeWriteEnd() { closeEnd(writeEnd_); }

  void write(std::string_view bytes) const {
    while (!bytes.empty()) {
      const ssize_t count = ::write(writeEnd_, bytes.data(), bytes.size());
      if (count <= 0) throw std::runtime_error("write to the test pipe failed");
      bytes.remove_prefix(static_cast<std::size_t>(count));
    }
  }

  // Blocks until a whole line has arrived; answers it with its line feed.
  std::string readLine() {
    for (;;) {
      const auto lineFeed = unread_.find('\n');
      if (lineFeed != std::string::npos) {
        std::string line = unread_.substr(0, lineFeed + 1);
        unread_.erase(0, lineFeed + 1);
        return line;
      }
      std::array<char, 65536> bytes{};
      const ssize_t count = ::read(readEnd_, bytes.data(), bytes.size());
      if (count <= 0) throw std::runtime_error("the test pipe ended before a line feed");
      unread_.append(bytes.data(), static_cast<std::size_t>(count));
    }
  }

 private:
  static void closeEnd(int& descriptor) {
    if (descriptor >= 0) ::close(descriptor);
    descriptor = -1;
  }

  int readEnd_ = -1;
  int writeEnd_ = -1;
  std::string unread_;
};

}  // namespace quillet::capture::testing
