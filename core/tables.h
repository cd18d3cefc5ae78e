#ifndef QM_CORE_TABLES_H
#define QM_CORE_TABLES_H

#include <cstdint>
#include <cstdio>

#include "core/containers.h"

// A named statistics table: counts by text key, with the three-letter tag that
// names its block in the statistics files and its help code on report pages.
//
// Block form (one table): the tag line, one "count key" line per key in string-number
// order, then an empty line. An empty table writes no block at all.
class Data : public siArr {
 public:
  char tag[4] = "";

  Data() = default;
  virtual ~Data() = default;
  Data(const Data&) = delete;
  Data& operator=(const Data&) = delete;

  const char* name() const { return tag; }
  // Copies up to three characters of the tag.
  void set_name(const char* text);

  // Adds every data line up to the block's empty line (or the file's end) to the
  // table; the file is positioned after the tag line. 0, or -8 when memory runs out
  // (what was added before stays).
  int read(FILE* file);
  // The table as one block; nothing when it is empty.
  void write(FILE* file) const;

  // Ranked list, largest counts first; nothing when the table is empty.
  void print_top(const char* title, const char* key_label, int total, const char* value_label, int limit);
  // The same list from the small end: least counts first.
  void print_bottom(const char* title, const char* key_label, int total, const char* value_label, int limit);
  // One ranked row: row index i from 0, the key's string number, the share total.
  virtual void print_row(int i, int32_t position, int total);
};

// Visiting host domains ("HST").
class Hst : public Data {
 public:
  // Counts one visitor under the registered domain of its host name (d.co.uk for
  // h.d.co.uk); a numeric address or a name not ending in a letter counts nowhere.
  // 0, or -8 when memory runs out.
  int add_host_domain(const char* host);
};

// Requested files ("FLS").
class Fls : public Data {
 public:
};

// Referring URLs ("URL"): rows are links coloured by the kind of referrer.
class Url : public Data {
 public:
  void print_row(int i, int32_t position, int total) override;
  // The top list followed by the link-colour legend; nothing when empty.
  void print_list(const char* title, const char* key_label, int total, const char* value_label, int limit);
};

// Status codes ("CDS") with their descriptions from "dat_cds.cfg".
class Cds : public Data {
 public:
  siArr codes;          // status-code text to description number
  strArr descriptions;  // each description text once

  // Reads the definition file: 0, -4 when it cannot be opened, -8 out of memory.
  int load(const char* path = "dat_cds.cfg");
};

// Referring host names and their referral counts (report program only; never written).
struct ReferringDomains : siArr {
  char tag[4] = "REF";
};

// Top list of referring domains.
void domain_print_list(ReferringDomains& table, const char* title, const char* key_label, int total,
                       const char* value_label, int limit);
void domain_print_row(ReferringDomains& table, int i, int32_t position, int total);

// The status-code section, with a pie chart when the status-code chart is switched on.
void print_status_codes(Cds& table, const char* title, const char* key_label, int total,
                        const char* value_label, int limit);

#endif
