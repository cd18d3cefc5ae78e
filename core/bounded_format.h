#ifndef QM_CORE_BOUNDED_FORMAT_H
#define QM_CORE_BOUNDED_FORMAT_H

#include <cstddef>

// printf-style formatting into fixed work areas that can never overflow: the
// result is cut to size - 1 characters and always terminated.

// Writes from the start of the area; returns the length written (after any cut).
int format_into(char* area, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// Appends after the text already in the area; returns the new length.
int append_format(char* area, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// Copies the text, cut to size - 1 characters; returns the length copied.
int copy_bounded(char* area, std::size_t size, const char* text);

#endif
