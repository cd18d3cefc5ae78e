#ifndef QM_CORE_VISITORS_H
#define QM_CORE_VISITORS_H

#include <cstdint>
#include <cstdio>

#include "core/containers.h"
#include "core/lookup_index.h"

// The day's visitor table. Visitors are numbered 0 .. count - 1 in order of first
// appearance; an order array lists the numbers in ascending key order, so lookups
// are binary searches and keys never move.
//
// Calling order: find a key; when it is absent, insert it at the position find gave,
// with no other find or read in between. The new visitor's number is count() - 1.
//
// Saved form (after the caller's "IPS" line): line i holds entry i of the order and
// the key of visitor i, so reading the lines back rebuilds the table without sorting;
// an empty line ends the section.
class IPs {
 public:
  IPs() = default;
  virtual ~IPs() = default;
  IPs(const IPs&) = delete;
  IPs& operator=(const IPs&) = delete;

  virtual int32_t count() const = 0;
  // True and the visitor number, or false and the insertion position in the order.
  virtual bool find(const char* key, int32_t* result) = 0;
  // Adds visitor number count() at the position of the order: 0 or -8.
  virtual int insert(const char* key, int32_t position) = 0;
  virtual void write(FILE* file) const = 0;
  // Reads a saved section into an empty table: 0, or -8 when memory runs out.
  virtual int read(FILE* file) = 0;
  virtual void clear() = 0;
};

// Visitors keyed by host name, compared byte-wise and case-sensitively. A visitor's
// number is its host name's string number.
class hosts : public IPs, public strArr {
 public:
  ~hosts() override = default;
  int32_t count() const override { return strArr::count; }
  bool find(const char* key, int32_t* result) override;
  int insert(const char* key, int32_t position) override;
  void write(FILE* file) const override;
  int read(FILE* file) override;
  void clear() override;
};

// Visitors keyed by IPv4 address, held as an unsigned 32-bit number. Address i
// belongs to visitor i. A lookup index finds the visitors; the order (the base
// array) lists the visitor numbers as they came and is sorted by address only
// where it is written. A table read from a file that repeats an address, or
// without memory for its index, is searched in its sorted order instead and keeps
// that order sorted at every insertion.
class ips : public IPs, public intArr {
 public:
  uint32_t* addresses = nullptr;  // count() entries, null when empty
  uint32_t pending = 0;           // the address of the last find or read line; insert stores it

  ~ips() override;
  int32_t count() const override { return intArr::count; }
  // Parses the key to an address (kept as pending) and looks it up; an absent
  // address's insertion position is the end of the order.
  bool find(const char* key, int32_t* result) override;
  // Stores the pending address; the key text is not looked at.
  int insert(const char* key, int32_t position) override;
  void write(FILE* file) const override;
  int read(FILE* file) override;
  void clear() override;

 private:
  // Appends the pending address as the next visitor, the order entry given.
  int append(int32_t entry);

  int32_t address_capacity_ = 0;
  LookupIndex index_;      // visitor numbers by address
  bool searched_ = false;  // found by binary search of the sorted order instead
};

// The address of a dotted text a.b.c.d: (a << 24) + (b << 16) + (c << 8) + d in 32 bits
// with wrap-around; each part is read as atoi reads it, a missing part counts as 0,
// and a part above 255 carries into the next byte. The text is not changed.
uint32_t address_of(const char* text);

#endif
