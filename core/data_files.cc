#include "core/data_files.h"

#include "core/bounded_format.h"

void day_file_name(char* area, std::size_t size, int year, int month, int day) {
  format_into(area, size, "data/%i%2.2i%2.2i.log", year, month, day);
}
