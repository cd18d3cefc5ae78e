#include "core/lookup_cache.h"

#include <cstdlib>
#include <cstring>

LookupCache::~LookupCache() { std::free(slots_); }

uint32_t LookupCache::hash(const char* key) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(key); *p; ++p) h = (h ^ *p) * 16777619u;
  return h;
}

uint32_t LookupCache::hash(uint32_t key) {
  key *= 2654435769u;
  return key ^ (key >> 15);
}

bool LookupCache::find(const strArr& keys, const char* key, uint32_t hash, int32_t* number) const {
  int32_t candidate = recall(hash);
  if (candidate < 0 || candidate >= keys.count || std::strcmp(keys.strings[candidate], key) != 0) return false;
  *number = candidate;
  return true;
}

void LookupCache::remember(uint32_t hash, int32_t number) {
  if (!slots_) {
    // Outside the containers' allocation hook on purpose: failing here changes nothing.
    slots_ = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * kSlots));
    if (!slots_) return;
    for (uint32_t i = 0; i < kSlots; ++i) slots_[i] = -1;
  }
  slots_[hash & (kSlots - 1)] = number;
}
