#ifndef QM_TESTS_CAPTURE_H
#define QM_TESTS_CAPTURE_H

#include <cstdio>
#include <string>

// Points the page stream at memory for the life of the object; text() gives what
// was written so far, byte for byte.
class PageCapture {
 public:
  PageCapture();
  ~PageCapture();
  PageCapture(const PageCapture&) = delete;
  PageCapture& operator=(const PageCapture&) = delete;
  std::string text();

 private:
  char* buffer_ = nullptr;
  size_t size_ = 0;
  FILE* stream_ = nullptr;
  FILE* previous_ = nullptr;
};

#endif
