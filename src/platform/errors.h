#pragma once
// The three ways a command's work ends early, caught by the command handlers.
#include <new>
#include <stdexcept>
#include <string>

// A failure whose text is shown to the user as it stands ("PROBLEM OPENING FILE FOR
// READING!", "Singular Matrix").
class TextException : public std::runtime_error {
 public:
  explicit TextException(const std::string& text) : std::runtime_error(text) {}
  std::string text() const { return what(); }
};

// The user pressed the cancel key at a progress tick. Deliberately not a std::exception,
// so that no handler of errors swallows a cancel by accident.
struct Cancelled {};

// An allocation was refused. The message naming the allocation has been shown already.
class OutOfMemory : public std::bad_alloc {
 public:
  const char* what() const noexcept override { return "out of memory"; }
};
