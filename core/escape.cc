#include "core/escape.h"

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

std::string escape(const char* text) {
  std::string out;
  if (!text) return out;
  for (const char* p = text; *p; ++p) append_escaped(out, *p);
  return out;
}
}  // namespace

std::string html_escape(const char* text) { return escape(text); }

std::string attr_escape(const char* text) { return escape(text); }

std::string list_item_escape(const char* text) {
  std::string out;
  if (!text) return out;
  for (const char* p = text; *p; ++p) append_escaped(out, *p == ',' ? ';' : *p);
  return out;
}

void print_html(const char* text) { page_puts(html_escape(text).c_str()); }

void print_attr(const char* text) { page_puts(attr_escape(text).c_str()); }
