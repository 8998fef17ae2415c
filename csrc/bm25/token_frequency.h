#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace tarn::typing::text {

// Folded 64x64->128 multiply: cheap, and spreads every input bit over both halves.
inline std::uint64_t fold_multiply(std::uint64_t a, std::uint64_t b) {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

// Up to eight bytes as a zero-padded word in memory order, without a variable-length memcpy (a
// libc call on every token otherwise). Overlapping loads read every byte at least once.
inline std::uint64_t load_short(const char* bytes, std::size_t size) {
  static_assert(std::endian::native == std::endian::little);
  if (size >= 4) {
    if (size == 8) {
      std::uint64_t word;
      std::memcpy(&word, bytes, 8);
      return word;
    }
    std::uint32_t low, high;
    std::memcpy(&low, bytes, 4);
    std::memcpy(&high, bytes + size - 4, 4);
    return low | (std::uint64_t{high} << (8 * (size - 4)));
  }
  if (size == 0) return 0;
  const auto byte = [&](std::size_t at) {
    return std::uint64_t{static_cast<unsigned char>(bytes[at])};
  };
  return byte(0) | (byte(size / 2) << (8 * (size / 2))) | (byte(size - 1) << (8 * (size - 1)));
}

// The first eight bytes, big-endian and zero-padded: ordering by this integer orders keys by their
// unsigned bytes, up to ties (a shared eight-byte prefix, or trailing NUL bytes) that a full
// comparison breaks. Most comparisons of a sort end on it.
inline std::uint64_t byte_order_prefix(std::string_view key) {
  return __builtin_bswap64(load_short(key.data(), key.size() < 8 ? key.size() : 8));
}

// A key and its count, on the way out of a table in key order (the model file, the pickled state).
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

// Hash of a token key; callers that look a key up more than once compute it once. Inline: it runs
// once per token on every hot path.
inline std::uint64_t hash_token(std::string_view key) {
  const char* bytes = key.data();
  std::size_t left = key.size();
  std::uint64_t hash = 0x9E3779B97F4A7C15ull ^ left;
  while (left > 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes, 8);
    hash = fold_multiply(hash ^ word, 0xBF58476D1CE4E5B9ull);
    bytes += 8;
    left -= 8;
  }
  return fold_multiply(hash ^ load_short(bytes, left) ^ 0x94D049BB133111EBull,
                       0x2545F4914F6CDD1Dull);
}

// Map from token key to occurrence count. Open addressing over 16-byte slots: a key of up to eight
// bytes lives in its slot, a longer one in a shared arena. A million short tokens cost about 40
// bytes each instead of the ~100 of a node-based map, and most lookups touch one cache line.
// Keys are never removed.
class TokenFrequency {
 public:
  TokenFrequency() = default;

  std::size_t size() const { return _size; }
  bool empty() const { return _size == 0; }

  // Null when the key is absent. The pointer stays valid until the next insertion.
  std::int32_t* find(std::string_view key, std::uint64_t hash);
  const std::int32_t* find(std::string_view key, std::uint64_t hash) const;
  std::int32_t* find(std::string_view key) { return find(key, hash_token(key)); }
  const std::int32_t* find(std::string_view key) const { return find(key, hash_token(key)); }

  // Starts loading the slot where `hash` begins its probe: lookups of a whole document then wait
  // for memory once, not once per token.
  void prefetch(std::uint64_t hash) const {
    if (!_slots.empty()) __builtin_prefetch(&_slots[hash & (_slots.size() - 1)]);
  }

  // The count for `key`, inserted as 0 when absent.
  std::int32_t& operator[](std::string_view key);

  // Inserts a key that the caller has just found absent; its count, valid until the next insertion.
  std::int32_t& insert_new(std::string_view key, std::uint64_t hash, std::int32_t count);

  // Makes room so that `entries` more keys totalling `key_bytes` bytes insert without allocating:
  // a caller that must change all or nothing allocates up front.
  void reserve(std::size_t entries, std::size_t key_bytes);

  // Calls visit(key, count) for every entry, in slot order.
  template <class Visit>
  void for_each(Visit&& visit) const {
    for (const Slot& slot : _slots) {
      if (slot.meta != 0) visit(key_of(slot), slot.count);
    }
  }

  // Bytes held by the table and the key arena, for memory reports.
  std::size_t memory_bytes() const;

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

  std::vector<Slot> _slots;
  std::vector<char> _arena;  // long keys, each as a 32-bit length and its bytes
  std::size_t _size = 0;
};

}  // namespace tarn::typing::text
