#ifndef QM_CORE_ESCAPE_H
#define QM_CORE_ESCAPE_H

#include <cstddef>
#include <string>

// Texts that reach pages from the hit log, visitors' requests, definition files or
// the configuration are escaped through these helpers and nowhere else. Text
// without special characters is written byte for byte.

// Visitor and file text in HTML text content: "&", "<" and ">" become character
// references, so that neither markup nor a reference ("&copy", "&amp;") can form.
std::string html_escape(const char* text);
// The program's own labels in text content: only "<" and ">" are escaped, so
// labels such as "Direct Hits & Bookmarks" are written as they stand.
std::string label_escape(const char* text);
// Attribute values inside value="..." or href="...": & < > " ' become references.
std::string attr_escape(const char* text);

// Appends the text, escaped as html_escape does, after the text already in a fixed
// work area, cut to size - 1 characters without ever splitting a character
// reference; returns the new length.
int append_html_escaped(char* area, std::size_t size, const char* text);

// One item of an applet parameter list (value="a,b,c,"): attribute-escaped, and
// commas, which separate the items, become ';'.
std::string list_item_escape(const char* text);

// The escaped text written to the page.
void print_html(const char* text);
void print_attr(const char* text);

#endif
