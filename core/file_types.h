#ifndef QM_CORE_FILE_TYPES_H
#define QM_CORE_FILE_TYPES_H

#include <cstdio>

#include "core/containers.h"

// The table of file types: requests and transferred data per file extension, with
// the extensions named by the definition file "dat_tps.cfg".
//
// Its block in the state and day files is the tag line, one line per extension in
// first-seen order ("%i %i %s\n": requests, whole kilobytes, extension) and an
// empty line; an empty table writes nothing.
class Tps {
 public:
  sdArr amounts;          // by extension: bytes in the parser, kilobytes in the report
  char tag[4] = "";       // "TPS", set by the owner; also the section's help code
  intArr requests;        // request counts by the extension's string number
  siArr extension_names;  // extension -> description number
  strArr descriptions;    // description texts, each stored once

  Tps() = default;
  ~Tps() = default;
  Tps(const Tps&) = delete;
  Tps& operator=(const Tps&) = delete;

  // Reads "dat_tps.cfg": 0, -4 when it cannot be opened, -8 when memory runs out.
  // An extension listed twice keeps the description of its first line.
  int load();
  // Reads the data lines of a block whose tag line the caller has read, up to an
  // empty line or the end of the file. With `in_state_file` the kilobytes are
  // turned back into bytes. 0, or -8 when memory runs out.
  int read(FILE* file, bool in_state_file);
  // Writes the block (nothing for an empty table).
  void write(FILE* file) const;
  // Empties the amounts and the requests; the definitions stay.
  void clear();
};

// Counts one request of `path` with `bytes` under the text after its last '.',
// lower-cased in place. A path without '.', or ending in '.', is not counted.
// 0, or -8 when memory runs out.
int add_file_type(Tps& table, char* path, double bytes);

// The "File Types" section: requests and kilobytes per extension, largest amount
// first, with a pie chart when the chart switch TPS_A is on. Extensions with less
// than one kilobyte are neither shown nor counted; nothing is written when the
// total is 0 or no extension has a kilobyte.
void print_file_types(const Tps& table, const char* title, const char* key_label, int total,
                      const char* value_label, int limit);

#endif
