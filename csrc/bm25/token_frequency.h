#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/probe.h"

namespace tarn::typing::text {

// The first eight bytes, big-endian and zero-padded: ordering by this integer orders keys by their
// unsigned bytes, up to ties (a shared eight-byte prefix, or trailing NUL bytes) that a full
// comparison breaks. Most comparisons of a sort end on it.
inline std::uint64_t byte_order_prefix(std::string_view key) {
  return __builtin_bswap64(load_short(key.data(), key.size() < 8 ? key.size() : 8));
}

// A key and its count, on the way out of a table in key order (TokenFrequency::in_key_order).
struct KeyedCount {
  std::uint64_t order;  // byte_order_prefix(key)
  std::string_view key;
  std::int32_t count;
};

inline KeyedCount keyed_count(std::string_view key, std::int32_t count) {
  return {byte_order_prefix(key), key, count};
}

// Sorts by key, unsigned bytes and a prefix first; most comparisons end on the eight-byte prefix.
void sort_by_key(std::vector<KeyedCount>& entries);

// Byte equality, with short tokens compared as one word.
inline bool same_token(std::string_view left, std::string_view right) {
  if (left.size() != right.size()) return false;
  if (left.size() <= 8)
    return load_short(left.data(), left.size()) == load_short(right.data(), right.size());
  return std::memcmp(left.data(), right.data(), left.size()) == 0;
}

// Map from token key to occurrence count. Open addressing over 16-byte slots: a key of up to eight
// bytes lives in its slot, a longer one in a shared arena. A million short tokens cost about 40
// bytes each instead of the ~100 of a node-based map, and most lookups touch one cache line.
// Removal shifts the run back (close_hole) and leaves a long key's bytes dead in the arena until
// they are half of it; then the live keys move down over them, so that a table whose keys come
// and go holds at most twice the bytes of the long keys it keeps.
class TokenFrequency {
 public:
  TokenFrequency() = default;

  std::size_t size() const { return _size; }
  bool empty() const { return _size == 0; }

  // Null when the key is absent. The pointer stays valid until the next insertion or removal.
  std::int32_t* find(std::string_view key, std::uint64_t hash);
  const std::int32_t* find(std::string_view key, std::uint64_t hash) const;
  std::int32_t* find(std::string_view key) { return find(key, hash_token(key)); }
  const std::int32_t* find(std::string_view key) const { return find(key, hash_token(key)); }

  // Starts loading the slot where `hash` begins its probe: lookups of a whole document then wait
  // for memory once, not once per token.
  void prefetch(std::uint64_t hash) const {
    if (!_slots.empty()) __builtin_prefetch(&_slots[Probe(hash, _slots.size() - 1).index()]);
  }

  // The count for `key`, inserted as 0 when absent.
  std::int32_t& operator[](std::string_view key);

  // Inserts a key that the caller has just found absent; its count, valid until the next insertion.
  std::int32_t& insert_new(std::string_view key, std::uint64_t hash, std::int32_t count);

  // Makes room so that `entries` more keys totalling `key_bytes` bytes insert without allocating:
  // a caller that must change all or nothing allocates up front.
  void reserve(std::size_t entries, std::size_t key_bytes);

  // Removes `key` with its count; false when it is absent. Never allocates or throws. Moves other
  // entries: counts found before are not valid after it.
  bool erase(std::string_view key, std::uint64_t hash);
  bool erase(std::string_view key) { return erase(key, hash_token(key)); }

  // Bytes the arena of long keys holds, removed keys not yet moved over included.
  std::size_t arena_bytes() const { return _arena.size(); }

  // Calls visit(key, count) for every entry, in slot order.
  template <class Visit>
  void for_each(Visit&& visit) const {
    for (const Slot& slot : _slots) {
      if (slot.meta != 0) visit(key_of(slot), slot.count);
    }
  }

  // Every entry in key order (sort_by_key), as the model file and the pickled state write them.
  // `key_of` may stand a form of its own for a key, which the caller keeps alive; that form is
  // then what is ordered and returned.
  template <class KeyOf = std::identity>
  std::vector<KeyedCount> in_key_order(KeyOf key_of = {}) const {
    std::vector<KeyedCount> entries;
    entries.reserve(_size);
    for_each([&](std::string_view key, std::int32_t count) {
      entries.push_back(keyed_count(key_of(key), count));
    });
    sort_by_key(entries);
    return entries;
  }

 private:
  struct Slot {
    std::uint64_t key = 0;  // a short key's bytes, zero-padded; else the arena offset of a long one
    std::uint32_t meta = 0;  // 0 when empty; else high hash bits above the key's form
    std::int32_t count = 0;
  };

  std::string_view key_of(const Slot& slot) const;
  std::size_t probe(std::string_view key, std::uint64_t hash) const;
  void grow_to(std::size_t slot_count);
  std::size_t place(Slot slot, std::uint64_t hash);
  void compact_arena();

  std::vector<Slot> _slots;
  std::vector<char> _arena;  // long keys, each as a 32-bit length and its bytes
  std::size_t _size = 0;
  std::size_t _dead_bytes = 0;  // of the arena: removed keys, with their lengths
};

}  // namespace tarn::typing::text
