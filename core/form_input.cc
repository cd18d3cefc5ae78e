#include "core/form_input.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "core/errors.h"
#include "core/memory.h"
#include "core/text.h"

namespace {

// The announced body length, or -1 when CONTENT_LENGTH is not a plain decimal
// number (blanks around it and a "+" allowed) or exceeds the limit.
long body_length(const char* text, long limit) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (std::isspace(*p)) ++p;
  if (*p == '+') ++p;
  if (!std::isdigit(*p)) return -1;
  long n = 0;
  for (; std::isdigit(*p); ++p) {
    n = n * 10 + (*p - '0');
    if (n > limit) return -1;
  }
  while (std::isspace(*p)) ++p;
  return *p ? -1 : n;
}

}  // namespace

void cut_token(char delimiter, char** cursor) {
  char* p = *cursor;
  while (*p && *p != delimiter) ++p;
  if (*p) {
    *p = '\0';
    ++p;
  }
  *cursor = p;
}

FormInput::FormInput() {
  const char* method = std::getenv("REQUEST_METHOD");
  if (method) {
    is_get = std::strcmp(method, "GET") == 0;
    is_post = std::strcmp(method, "POST") == 0;
  }
}

FormInput::~FormInput() {
  std::free(names);
  std::free(values);
  std::free(data);
}

int FormInput::read_body(FILE* input, long max_body) {
  const char* type = std::getenv("CONTENT_TYPE");
  if (!type || std::strcmp(type, "application/x-www-form-urlencoded") != 0) return ERR_INP;
  const char* length_text = std::getenv("CONTENT_LENGTH");
  if (!length_text) return ERR_INP;
  // Refused before anything is allocated: a negative, non-numeric or huge length.
  long n = body_length(length_text, max_body);
  if (n < 0) return ERR_INP;
  data = static_cast<char*>(new_block(static_cast<std::size_t>(n) + 1));
  if (!data) return ERR_MEM;
  // A body shorter than announced ends where the input ends.
  std::size_t got = n > 0 ? std::fread(data, 1, static_cast<std::size_t>(n), input) : 0;
  data[got] = '\0';
  return 0;
}

int FormInput::parse(FILE* input, long max_body) {
  if (is_get) {
    const char* query = std::getenv("QUERY_STRING");
    if (!query) return ERR_INP;
    // Split a private copy: the environment stays as the program found it.
    data = copy_text(query);
    if (!data) return ERR_MEM;
  } else if (is_post) {
    int status = read_body(input, max_body);
    if (status != 0) return status;
  } else {
    return 0;
  }
  return split();
}

int FormInput::split() {
  if (!data) return 0;
  // A name ends at a "=", a value at a "&" (the last of each at the end of the text):
  // so each list is allocated once, and the pieces stay in the input. A copy of each
  // would cost far more than the piece itself ("=&" a pair).
  std::size_t most_names = 1;
  std::size_t most_values = 1;
  for (const char* p = data; *p; ++p) {
    if (*p == '=') ++most_names;
    if (*p == '&') ++most_values;
  }
  names = static_cast<char**>(new_block(most_names * sizeof(char*)));
  values = static_cast<char**>(new_block(most_values * sizeof(char*)));
  if (!names || !values) return ERR_MEM;
  int name_count = 0;
  char* cursor = data;
  bool want_name = true;
  while (*cursor) {
    char* piece = cursor;
    cut_token(want_name ? '=' : '&', &cursor);
    url_decode(piece);
    if (want_name) {
      names[name_count++] = piece;
    } else {
      values[count++] = piece;
    }
    want_name = !want_name;
  }
  return 0;
}

void FormInput::url_decode(char* text) {
  char* out = text;
  const char* in = text;
  while (*in) {
    if (*in == '+') {
      *out++ = ' ';
      ++in;
    } else if (*in == '%') {
      ++in;
      // Exactly the next two characters, or fewer at the end of the text.
      char digits[3] = {0, 0, 0};
      for (int i = 0; i < 2 && *in; ++i) digits[i] = *in++;
      char byte = static_cast<char>(std::strtoul(digits, nullptr, 16) & 0xFF);
      if (byte == '\0') break;  // "%00" or no hexadecimal digits end the text
      *out++ = byte;
    } else {
      *out++ = *in++;
    }
  }
  *out = '\0';
}

int FormInput::index_of(const char* name) const {
  for (int i = 0; i < count; ++i) {
    if (std::strcmp(names[i], name) == 0) return i;
  }
  return -1;
}

int FormInput::get_string(const char* name, char*& out) const {
  out = nullptr;
  int i = index_of(name);
  if (i < 0 || values[i][0] == '\0') return 0;
  out = copy_text(values[i]);
  return out ? 0 : ERR_MEM;
}

int FormInput::get_into(const char* name, char* buffer, int size) const {
  int i = index_of(name);
  if (i < 0 || size <= 0) return -1;
  std::size_t n = std::strlen(values[i]);
  std::size_t room = static_cast<std::size_t>(size) - 1;
  if (n > room) n = room;
  std::memcpy(buffer, values[i], n);
  std::memset(buffer + n, 0, static_cast<std::size_t>(size) - n);
  return 0;
}

int FormInput::get_int(const char* name, int& out) const {
  int i = index_of(name);
  if (i < 0) return -1;
  out = text_to_int(values[i]);
  return out;
}

void FormInput::get_flag(const char* name, bool& out) const {
  int i = index_of(name);
  out = i >= 0 && text_to_int(values[i]) == 1;
}

void FormInput::get_ints(const char* name, int* numbers, int max) const {
  int n = 0;
  for (int i = 0; i < count && n < max; ++i) {
    if (std::strcmp(names[i], name) == 0) numbers[n++] = text_to_int(values[i]);
  }
}
