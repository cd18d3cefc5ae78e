#ifndef QM_CORE_FORM_INPUT_H
#define QM_CORE_FORM_INPUT_H

#include <cstdio>

// The decoded fields of one CGI request: the query string of a GET request or the
// url-encoded body of a POST request, as name/value pairs in input order. A name
// may occur more than once; lookups take the first pair with the name.
class FormInput {
 public:
  int count = 0;           // complete name/value pairs
  bool is_get = false;     // REQUEST_METHOD is exactly "GET"
  bool is_post = false;    // REQUEST_METHOD is exactly "POST"
  char* data = nullptr;    // the input (owned), cut and decoded in place into the pieces
  char** names = nullptr;  // the names in `data`, input order
  char** values = nullptr; // the values in `data`, at the positions of their names

  // Largest POST body accepted by default; a longer announced body is refused with -7
  // before anything is read.
  static constexpr long kMaxBody = 4L * 1024 * 1024;

  FormInput();
  ~FormInput();
  FormInput(const FormInput&) = delete;
  FormInput& operator=(const FormInput&) = delete;

  // Reads the request's input and fills the pairs: 0, -7 (invalid input) or -8.
  // A request that is neither GET nor POST gives no fields and 0. The body of a
  // POST request, at most `max_body` bytes, is read from `input` (standard input in
  // the programs). The memory taken is a small multiple of the input's size.
  int parse(FILE* input = stdin, long max_body = kMaxBody);
  // Cuts `data` into names and values, decoded in place: 0 or -8.
  int split();
  // Decodes "+" and "%XX" in place.
  static void url_decode(char* text);

  // Position of the first pair with exactly this name, -1 when there is none.
  int index_of(const char* name) const;
  // out = a copy of the value (release with free()), null when the field is
  // absent or empty: 0, or -8 when the copy cannot be made.
  int get_string(const char* name, char*& out) const;
  // Copies the value into the buffer of `size` bytes, padded with NUL bytes; a
  // value of size characters or more is cut to size - 1. -1 (buffer untouched)
  // when the field is absent.
  int get_into(const char* name, char* buffer, int size) const;
  // out = the value read as atoi reads it, also returned; -1 (out untouched)
  // when the field is absent.
  int get_int(const char* name, int& out) const;
  // out = the field is present and reads as 1.
  void get_flag(const char* name, bool& out) const;
  // The numbers of every pair with this name, in input order, at most `max`.
  void get_ints(const char* name, int* numbers, int max) const;

 private:
  int read_body(FILE* input, long max_body);
};

// Cuts the text at the cursor at the next delimiter (overwritten with NUL) and
// moves the cursor past it, or onto the end of the text when there is none.
void cut_token(char delimiter, char** cursor);

#endif
