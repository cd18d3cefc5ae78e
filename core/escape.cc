#include "core/escape.h"

#include <cstring>

#include "core/output.h"

namespace {
void append_escaped(std::string& out, char c) {
  switch (c) {
    case '&': out += "&amp;"; break;
    case '<': out += "&lt;"; break;
    case '>': out += "&gt;"; break;
    case '"': out += "&quot;"; break;
    case '\'': out += "&#39;"; break;
    default: out += c;
  }
}

// Text content: quotes need no reference there.
void append_text_escaped(std::string& out, char c) {
  switch (c) {
    case '"':
    case '\'': out += c; break;
    default: append_escaped(out, c);
  }
}

// A label of the program's own: "&" stays, as in "Direct Hits & Bookmarks".
void append_label_escaped(std::string& out, char c) {
  if (c == '&') {
    out += c;
  } else {
    append_text_escaped(out, c);
  }
}

template <typename Append>
std::string escape(const char* text, Append append) {
  std::string out;
  if (!text) return out;
  for (const char* p = text; *p; ++p) append(out, *p);
  return out;
}
}  // namespace

std::string html_escape(const char* text) { return escape(text, append_text_escaped); }

std::string label_escape(const char* text) { return escape(text, append_label_escaped); }

std::string attr_escape(const char* text) { return escape(text, append_escaped); }

std::string list_item_escape(const char* text) {
  std::string out;
  if (!text) return out;
  for (const char* p = text; *p; ++p) append_escaped(out, *p == ',' ? ';' : *p);
  return out;
}

void print_html(const char* text) { page_puts(html_escape(text).c_str()); }

void print_attr(const char* text) { page_puts(attr_escape(text).c_str()); }

int append_html_escaped(char* area, std::size_t size, const char* text) {
  if (size == 0) return 0;
  std::size_t length = strnlen(area, size - 1);
  area[length] = '\0';
  std::string piece;
  for (const char* p = text; p && *p; ++p) {
    piece.clear();
    append_text_escaped(piece, *p);
    if (length + piece.size() > size - 1) break;
    std::memcpy(area + length, piece.data(), piece.size());
    length += piece.size();
    area[length] = '\0';
  }
  return static_cast<int>(length);
}
