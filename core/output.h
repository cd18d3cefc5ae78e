#ifndef QM_CORE_OUTPUT_H
#define QM_CORE_OUTPUT_H

#include <cstdio>

// The page being written. Standard output in the programs; tests point it at a
// memory stream to compare pages byte for byte.
FILE* page_stream();
void set_page_stream(FILE* stream);

// printf-style write of one template to the page.
void page_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The text as it stands.
void page_puts(const char* text);

#endif
