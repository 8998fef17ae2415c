#include "token_frequency.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace tarn::typing::text {
namespace {

constexpr std::size_t kLengthPrefix = sizeof(std::uint32_t);

// Folded 64x64->128 multiply: cheap, and spreads every input bit over both halves.
inline std::uint64_t fold_multiply(std::uint64_t a, std::uint64_t b) {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

inline std::uint32_t tag_of(std::uint64_t hash) { return static_cast<std::uint32_t>(hash >> 32); }

// Grow before the table is 3/4 full: linear probing stays short below that.
inline bool over_load(std::size_t entries, std::size_t slots) { return entries * 4 > slots * 3; }

}  // namespace

std::uint64_t hash_token(std::string_view key) {
  const char* bytes = key.data();
  std::size_t left = key.size();
  std::uint64_t hash = 0x9E3779B97F4A7C15ull ^ left;
  while (left >= 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes, 8);
    hash = fold_multiply(hash ^ word, 0xBF58476D1CE4E5B9ull);
    bytes += 8;
    left -= 8;
  }
  std::uint64_t tail = 0;
  std::memcpy(&tail, bytes, left);
  return fold_multiply(hash ^ tail ^ 0x94D049BB133111EBull, 0x2545F4914F6CDD1Dull);
}

std::string_view TokenFrequency::key_at(std::uint64_t key_offset) const {
  const char* prefix = _arena.data() + (key_offset - 1);
  std::uint32_t length;
  std::memcpy(&length, prefix, kLengthPrefix);
  return {prefix + kLengthPrefix, length};
}

std::size_t TokenFrequency::probe(std::string_view key, std::uint64_t hash) const {
  const std::size_t mask = _slots.size() - 1;
  const std::uint32_t tag = tag_of(hash);
  for (std::size_t index = hash & mask;; index = (index + 1) & mask) {
    const Slot& slot = _slots[index];
    if (slot.key_offset == 0) return index;
    if (slot.hash_tag == tag && key_at(slot.key_offset) == key) return index;
  }
}

std::int32_t* TokenFrequency::find(std::string_view key, std::uint64_t hash) {
  return const_cast<std::int32_t*>(std::as_const(*this).find(key, hash));
}

const std::int32_t* TokenFrequency::find(std::string_view key, std::uint64_t hash) const {
  if (_size == 0) return nullptr;
  const Slot& slot = _slots[probe(key, hash)];
  return slot.key_offset == 0 ? nullptr : &slot.count;
}

std::int32_t& TokenFrequency::operator[](std::string_view key) {
  const std::uint64_t hash = hash_token(key);
  if (std::int32_t* count = find(key, hash)) return *count;
  insert_new(key, hash, 0);
  return *find(key, hash);
}

void TokenFrequency::reserve(std::size_t entries, std::size_t key_bytes) {
  const std::size_t wanted = _size + entries;
  std::size_t slot_count = _slots.empty() ? 16 : _slots.size();
  while (over_load(wanted, slot_count)) slot_count *= 2;
  if (slot_count != _slots.size()) grow_to(slot_count);
  const std::size_t arena_bytes = _arena.size() + key_bytes + entries * kLengthPrefix;
  // Geometric, as push_back would be: exact reservations on every call would copy quadratically.
  if (arena_bytes > _arena.capacity()) _arena.reserve(std::max(arena_bytes, 2 * _arena.capacity()));
}

void TokenFrequency::insert_new(std::string_view key, std::uint64_t hash, std::int32_t count) {
  if (key.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("token key longer than 4 GiB");
  }
  if (_slots.empty() || over_load(_size + 1, _slots.size())) {
    grow_to(_slots.empty() ? 16 : _slots.size() * 2);
  }
  const std::uint32_t length = static_cast<std::uint32_t>(key.size());
  const std::size_t prefix_at = _arena.size();
  _arena.resize(prefix_at + kLengthPrefix + key.size());
  std::memcpy(_arena.data() + prefix_at, &length, kLengthPrefix);
  if (!key.empty()) std::memcpy(_arena.data() + prefix_at + kLengthPrefix, key.data(), key.size());
  place(Slot{prefix_at + 1, tag_of(hash), count}, hash);
  ++_size;
}

void TokenFrequency::place(Slot slot, std::uint64_t hash) {
  const std::size_t mask = _slots.size() - 1;
  std::size_t index = hash & mask;
  while (_slots[index].key_offset != 0) index = (index + 1) & mask;
  _slots[index] = slot;
}

void TokenFrequency::grow_to(std::size_t slot_count) {
  std::vector<Slot> old(slot_count);
  old.swap(_slots);
  for (const Slot& slot : old) {
    if (slot.key_offset != 0) place(slot, hash_token(key_at(slot.key_offset)));
  }
}

std::size_t TokenFrequency::memory_bytes() const {
  return _slots.capacity() * sizeof(Slot) + _arena.capacity();
}

}  // namespace tarn::typing::text
