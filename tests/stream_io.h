// A console's input and output on C++ streams, for tests that type into an
// istringstream and read what an ostringstream got.
#ifndef AUTODUMP_TESTS_STREAM_IO_H_
#define AUTODUMP_TESTS_STREAM_IO_H_

#include <istream>
#include <ostream>
#include <string_view>

#include "shell/console.h"

class stream_io : public console_io {
 public:
  stream_io(std::istream& in, std::ostream& out) : in_(in), out_(out) {}
  int peek() override {
    using traits = std::streambuf::traits_type;
    int byte = in_.rdbuf()->sgetc();
    return byte == traits::eof() ? -1 : byte;
  }
  void take() override { in_.rdbuf()->sbumpc(); }
  void write(std::string_view bytes) override { out_ << bytes; }

 private:
  std::istream& in_;
  std::ostream& out_;
};

#endif  // AUTODUMP_TESTS_STREAM_IO_H_
