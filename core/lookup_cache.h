#ifndef QM_CORE_LOOKUP_CACHE_H
#define QM_CORE_LOOKUP_CACHE_H

#include <cstdint>

#include "core/containers.h"

// Remembers, by a hash of the key, which number (a strArr's string number, a
// visitor number) a key was last found or stored under, so that a table asked for
// the same keys over and over (the pages and visitors of a log) mostly skips the
// binary search. Every answer is checked against the table itself, so a slot that is old, overwritten or left from before
// a clear only costs the search it would have saved: the cache never changes a
// result. Without memory for its slots it simply remembers nothing.
class LookupCache {
 public:
  LookupCache() = default;
  ~LookupCache();
  LookupCache(const LookupCache&) = delete;
  LookupCache& operator=(const LookupCache&) = delete;

  static uint32_t hash(const char* key);
  static uint32_t hash(uint32_t key);
  // The number last remembered under the hash, or -1; the caller checks it.
  int32_t recall(uint32_t hash) const { return slots_ ? slots_[hash & (kSlots - 1)] : -1; }
  // True and the key's string number when the slot for `hash` names that key.
  bool find(const strArr& keys, const char* key, uint32_t hash, int32_t* number) const;
  void remember(uint32_t hash, int32_t number);

 private:
  static constexpr uint32_t kSlots = 8192;  // a power of two
  int32_t* slots_ = nullptr;
};

#endif
