#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tarn::typing::text {

// Hash of a token key; callers that look a key up more than once compute it once.
std::uint64_t hash_token(std::string_view key);

// Map from token key to occurrence count. Open addressing over 16-byte slots with the key bytes
// kept in one arena: a million short tokens cost about 40 bytes each instead of the ~100 of a
// node-based map, and a lookup touches one slot and one key. Keys are never removed.
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

  // The count for `key`, inserted as 0 when absent.
  std::int32_t& operator[](std::string_view key);

  // Inserts a key that the caller has just found absent.
  void insert_new(std::string_view key, std::uint64_t hash, std::int32_t count);

  // Makes room so that `entries` more keys totalling `key_bytes` bytes insert without allocating:
  // a caller that must change all or nothing allocates up front.
  void reserve(std::size_t entries, std::size_t key_bytes);

  // Calls visit(key, count) for every entry, in slot order.
  template <class Visit>
  void for_each(Visit&& visit) const {
    for (const Slot& slot : _slots) {
      if (slot.key_offset != 0) visit(key_at(slot.key_offset), slot.count);
    }
  }

  // Bytes held by the table and the key arena, for memory reports.
  std::size_t memory_bytes() const;

 private:
  struct Slot {
    std::uint64_t key_offset = 0;  // one past the key's length prefix in _arena; 0 marks empty
    std::uint32_t hash_tag = 0;    // high hash bits, to skip most key comparisons
    std::int32_t count = 0;
  };

  std::string_view key_at(std::uint64_t key_offset) const;
  std::size_t probe(std::string_view key, std::uint64_t hash) const;
  void grow_to(std::size_t slot_count);
  void place(Slot slot, std::uint64_t hash);

  std::vector<Slot> _slots;
  std::vector<char> _arena;
  std::size_t _size = 0;
};

}  // namespace tarn::typing::text
