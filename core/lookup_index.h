#ifndef QM_CORE_LOOKUP_INDEX_H
#define QM_CORE_LOOKUP_INDEX_H

#include <cstdint>

// Finds the number a table gave a key (a string number, a visitor number) by a
// hash of the key, so that a table of millions of keys needs no sorted array that
// every new key would shift. The index keeps only hashes and numbers: the table
// says whether the key under a number is the one asked for. Open addressing, at
// most half full; room grows by doubling through the containers' allocation hook,
// and a failed growth leaves the index as it was.
class LookupIndex {
 public:
  LookupIndex() = default;
  ~LookupIndex() { clear(); }
  LookupIndex(const LookupIndex&) = delete;
  LookupIndex& operator=(const LookupIndex&) = delete;

  static uint32_t hash(const char* key);
  // One to one: two numbers have the same hash only when they are equal.
  static uint32_t hash(uint32_t key);

  // The number under `hash` for which same(number) holds, or -1.
  template <typename Same>
  int32_t find(uint32_t hash, Same same) const {
    if (!slots_) return -1;
    for (uint32_t i = hash & mask_;; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.number < 0) return -1;
      if (slot.hash == hash && same(slot.number)) return slot.number;
    }
  }
  // Room for `entries` numbers in all: 0, or -8 with the index unchanged.
  int reserve(int64_t entries);
  // Stores a number under its hash; room for it must have been reserved.
  void put(uint32_t hash, int32_t number);
  // Takes a stored number out again (an undone insertion).
  void remove(uint32_t hash, int32_t number);
  int32_t size() const { return used_; }
  // Forgets every number and releases the slots.
  void clear();

 private:
  struct Slot {
    uint32_t hash;
    int32_t number;  // -1: free
  };
  Slot* slots_ = nullptr;
  uint32_t mask_ = 0;  // slot count - 1; the count is a power of two
  int32_t used_ = 0;
};

#endif
