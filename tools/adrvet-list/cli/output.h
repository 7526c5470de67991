// Standard output in large writes; every write and the final close checked.
#pragma once

#include <cstddef>
#include <string>

namespace adrvet_list {

class Output {
 public:
  Output() = default;
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output();
  void add(const char* data, std::size_t size);
  void add(const std::string& text) { add(text.data(), text.size()); }
  void add(char c) { add(&c, 1); }
  // Writes what is buffered now, for a reader waiting on the answers so far.
  bool flush_now() { return flush(); }
  // Writes what is left and closes standard output; false on any failure.
  bool finish();
  // The error number of the failure, once finish gave false.
  [[nodiscard]] int error() const { return error_; }

 private:
  bool flush();
  std::string buffer_;
  bool failed_ = false;
  int error_ = 0;
  bool finished_ = false;
  bool wrote_ = false;
};

// Finishes output and turns a write failure into an exit status.
int finish_output(Output& out, int status);

// Prints a command's help text on standard output; exit status 0.
int show_help(const char* text);

}  // namespace adrvet_list
