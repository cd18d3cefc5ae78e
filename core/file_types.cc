#include "core/file_types.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "core/errors.h"
#include "core/text.h"

namespace {

// An amount as a whole number truncated toward zero, held within the int range.
int whole_number(double amount) {
  if (std::isnan(amount)) return 0;
  if (amount >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (amount <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(amount);
}

int add_held(int a, int b) {
  long long sum = static_cast<long long>(a) + b;
  if (sum > INT_MAX) return INT_MAX;
  if (sum < INT_MIN) return INT_MIN;
  return static_cast<int>(sum);
}

// Adds `count` requests and `amount` to an extension; a new one starts with them.
// The amounts and the requests stay parallel even when memory runs out.
int add_to_extension(Tps& table, const char* extension, double amount, int count) {
  int32_t number;
  if (table.amounts.keys.find(extension, &number)) {
    table.amounts.values.data[number] += amount;
    table.requests.data[number] = add_held(table.requests.data[number], count);
    return 0;
  }
  int32_t slot = table.requests.count;
  if (table.requests.insert_at(count, slot) != 0) return ERR_MEM;
  if (table.amounts.add_index(extension, amount, &number) != 0) {
    table.requests.remove_at(slot);
    return ERR_MEM;
  }
  return 0;
}

}  // namespace

int Tps::load() {
  FILE* file = std::fopen("dat_tps.cfg", "r");
  if (!file) return ERR_FIL;
  while (read_line(file)) {
    strip_line_end(line_buffer);
    char* description = line_buffer;
    next_int_token(' ', &description);  // cuts the extension off; the rest describes it
    const char* extension = line_buffer;
    int32_t found;
    if (extension_names.keys.find(extension, &found)) continue;  // first line holds
    int32_t number;
    if (!descriptions.find(description, &number)) {
      if (descriptions.insert_at(description, number) != 0) {
        std::fclose(file);
        return ERR_MEM;
      }
      number = descriptions.count - 1;
    }
    if (extension_names.add(extension, number) != 0) {
      std::fclose(file);
      return ERR_MEM;
    }
  }
  std::fclose(file);
  return 0;
}

int Tps::read(FILE* file, bool in_state_file) {
  while (read_line(file)) {
    strip_line_end(line_buffer);
    if (line_buffer[0] == '\0') break;  // the block's empty line
    char* cursor = line_buffer;
    int count = next_int_token(' ', &cursor);
    int kilobytes = next_int_token(' ', &cursor);
    // The state file keeps whole kilobytes; the parser counts bytes. The product
    // is taken in floating point so that large amounts cannot overflow.
    double amount = in_state_file ? static_cast<double>(kilobytes) * 1024.0 : kilobytes;
    if (add_to_extension(*this, cursor, amount, count) != 0) return ERR_MEM;
  }
  return 0;
}

void Tps::write(FILE* file) const {
  if (amounts.keys.count == 0) return;
  std::fprintf(file, "%s\n", tag);
  for (int32_t i = 0; i < amounts.keys.count; ++i) {
    std::fprintf(file, "%i %i %s\n", requests.data[i], whole_number(amounts.values.data[i] / 1024.0),
                 amounts.keys.strings[i]);
  }
  std::fputs("\n", file);
}

void Tps::clear() {
  amounts.clear();
  requests.clear();
}

int add_file_type(Tps& table, char* path, double bytes) {
  char* dot = std::strrchr(path, '.');
  if (!dot || dot[1] == '\0') return 0;
  char* extension = lower_case(dot + 1);
  return add_to_extension(table, extension, bytes, 1);
}
