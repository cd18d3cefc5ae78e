#include "support/capture.h"

#include <cstdlib>

#include "core/output.h"

PageCapture::PageCapture() {
  stream_ = open_memstream(&buffer_, &size_);
  previous_ = page_stream();
  set_page_stream(stream_);
}

PageCapture::~PageCapture() {
  set_page_stream(previous_ == stdout ? nullptr : previous_);
  std::fclose(stream_);
  std::free(buffer_);
}

std::string PageCapture::text() {
  std::fflush(stream_);
  return std::string(buffer_, size_);
}
