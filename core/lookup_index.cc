#include "core/lookup_index.h"

#include <cstdlib>

#include "core/errors.h"
#include "core/memory.h"

uint32_t LookupIndex::hash(const char* key) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(key); *p; ++p) h = (h ^ *p) * 16777619u;
  return h ^ (h >> 16);  // the slot comes from the low bits: mix the high ones in
}

uint32_t LookupIndex::hash(uint32_t key) {
  key ^= key >> 16;
  key *= 0x85ebca6bu;
  key ^= key >> 13;
  key *= 0xc2b2ae35u;
  return key ^ (key >> 16);
}

int LookupIndex::reserve(int64_t entries) {
  const uint64_t slots = slots_ ? static_cast<uint64_t>(mask_) + 1 : 0;
  if (static_cast<uint64_t>(entries) * 2 <= slots) return 0;
  uint64_t grown = slots ? slots : 16;
  while (grown < static_cast<uint64_t>(entries) * 2) grown *= 2;
  if (grown > (1u << 31)) return ERR_MEM;
  Slot* fresh = static_cast<Slot*>(new_block(sizeof(Slot) * grown));
  if (!fresh) return ERR_MEM;
  for (uint64_t i = 0; i < grown; ++i) fresh[i] = Slot{0, -1};
  Slot* old = slots_;
  slots_ = fresh;
  mask_ = static_cast<uint32_t>(grown - 1);
  used_ = 0;
  for (uint64_t i = 0; i < slots; ++i) {
    if (old[i].number >= 0) put(old[i].hash, old[i].number);
  }
  std::free(old);
  return 0;
}

void LookupIndex::put(uint32_t hash, int32_t number) {
  uint32_t i = hash & mask_;
  while (slots_[i].number >= 0) i = (i + 1) & mask_;
  slots_[i] = Slot{hash, number};
  ++used_;
}

void LookupIndex::remove(uint32_t hash, int32_t number) {
  if (!slots_) return;
  uint32_t i = hash & mask_;
  while (slots_[i].number != number) {
    if (slots_[i].number < 0) return;
    i = (i + 1) & mask_;
  }
  // Later slots of the same run move up, so that no search stops early at the gap.
  for (uint32_t j = (i + 1) & mask_; slots_[j].number >= 0; j = (j + 1) & mask_) {
    uint32_t home = slots_[j].hash & mask_;
    // The entry at j may fill the gap at i when its home slot does not lie in (i, j].
    bool movable = i <= j ? (home <= i || home > j) : (home <= i && home > j);
    if (movable) {
      slots_[i] = slots_[j];
      i = j;
    }
  }
  slots_[i] = Slot{0, -1};
  --used_;
}

void LookupIndex::clear() {
  std::free(slots_);
  slots_ = nullptr;
  mask_ = 0;
  used_ = 0;
}
