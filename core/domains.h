#ifndef QM_CORE_DOMAINS_H
#define QM_CORE_DOMAINS_H

#include "core/containers.h"

class Hst;

// The visiting countries of a report: visitors by top-level domain, with the
// country names of the definition file "dat_dom.cfg".
class Dom {
 public:
  siArr counts;        // visitors by top-level domain (uk, com, ...)
  char tag[4] = "";    // "DMN", set by the owner; the section's help code
  strArr names;        // country names, each stored once
  strArr codes;        // top-level domains of "dat_dom.cfg", each stored once
  intArr code_names;   // by a code's string number: the number of its name

  Dom() = default;
  ~Dom() = default;
  Dom(const Dom&) = delete;
  Dom& operator=(const Dom&) = delete;

  // Reads "dat_dom.cfg": each line is a code, a blank and the country's name. Every
  // code is paired with the name on its own line; a code listed twice keeps its
  // first name. 0, -4 when the file cannot be opened, -8 when memory runs out
  // (what was read so far stays).
  int load_country_names();
  // The name of a code, or null when the code is not listed.
  const char* country_name(const char* code) const;
};

// The registered domain of a host name: the last two labels, or the last three
// under a short country code whose second level begins with com, net, org, edu,
// gov or co (d.co.uk, d.com.au). The result points into `host`; null when the
// name is empty or does not end in a letter (numeric addresses, a trailing '.' or
// '-', bytes of 0x80 and above).
const char* registered_domain(const char* host);

// Adds each domain's visitors of a host table to its top-level domain, taking the
// domains from the last one first. 0, or -8 when memory runs out.
int count_top_level_domains(Dom& countries, const Hst& hosts);

// The "Visiting Countries" section: visitors by top-level domain, largest first,
// each labelled with its country's name when "dat_dom.cfg" lists the code.
void print_countries(const Dom& countries, const char* title, const char* key_label, int total,
                     const char* value_label, int limit);

#endif
