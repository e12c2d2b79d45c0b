// Exceptions shared by every subsystem.
#pragma once

#include <stdexcept>
#include <string>

namespace brenvo {

// Base of every exception this program raises; the text is shown to the user.
class EBrenvoError : public std::runtime_error {
 public:
  explicit EBrenvoError(const std::string& msg) : std::runtime_error(msg) {}
};

// An index or length outside an array's bounds.
class ERangeError : public EBrenvoError {
 public:
  ERangeError() : EBrenvoError("Range check error") {}
  explicit ERangeError(const std::string& msg) : EBrenvoError(msg) {}
};

// A file that could not be read or written. Reason is the cause alone (the
// system's text, "not a regular file", ...), for messages that name the file
// in their own words.
class EFileError : public EBrenvoError {
 public:
  EFileError(const std::string& msg, std::string reason) : EBrenvoError(msg), Reason(std::move(reason)) {}
  std::string Reason;
};

// A text that should hold a number does not ("'0,5' is not a valid floating point value").
class EConvertError : public EBrenvoError {
 public:
  explicit EConvertError(const std::string& msg) : EBrenvoError(msg) {}
};

// An internal consistency check failed: a bug of ours, never bad input.
class EAssertionFailure : public EBrenvoError {
 public:
  EAssertionFailure(const char* file, int line)
      : EBrenvoError(std::string("Assertion failure (") + file + ", line " + std::to_string(line) + ")") {}
};

// Unlike assert(), stays active in release builds.
#define BRENVO_ASSERT(cond)                                  \
  do {                                                       \
    if (!(cond)) throw ::brenvo::EAssertionFailure(__FILE__, __LINE__); \
  } while (0)

// Throws ERangeError unless 0 <= index < size.
inline void CheckIndex(long long index, long long size) {
  if (index < 0 || index >= size) throw ERangeError();
}

// Ring and window positions: the remainder is always in 0 .. n-1, also for
// negative counters (C++ % would go negative).
template <typename T>
constexpr T PosMod(T value, T n) {
  T r = value % n;
  return r < 0 ? r + n : r;
}

}  // namespace brenvo
