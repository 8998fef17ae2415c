#include "token_frequency.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

#include "base/probe.h"

namespace tarn::typing::text {
namespace {

constexpr std::size_t kLengthPrefix = sizeof(std::uint32_t);
constexpr std::size_t kInlineBytes = sizeof(std::uint64_t);
// The low bits of a slot's meta: 1 + length for a key held in the slot, kArenaForm for the rest.
constexpr std::uint32_t kFormMask = 0xF;
constexpr std::uint32_t kArenaForm = kInlineBytes + 2;

inline bool is_inline(std::string_view key) { return key.size() <= kInlineBytes; }

inline std::uint32_t meta_of(std::string_view key, std::uint64_t hash) {
  const std::uint32_t form =
      is_inline(key) ? static_cast<std::uint32_t>(key.size()) + 1 : kArenaForm;
  return (static_cast<std::uint32_t>(hash >> 32) & ~kFormMask) | form;
}

inline std::uint64_t packed(std::string_view key) { return load_short(key.data(), key.size()); }

// Grow before the table is 3/4 full: linear probing stays short below that.
inline bool over_load(std::size_t entries, std::size_t slots) { return entries * 4 > slots * 3; }

constexpr std::size_t kFirstSlots = 16;
static_assert(is_slot_count(kFirstSlots), "the table doubles from here, and the probe masks");

}  // namespace

std::string_view TokenFrequency::key_of(const Slot& slot) const {
  const std::uint32_t form = slot.meta & kFormMask;
  if (form != kArenaForm) return {reinterpret_cast<const char*>(&slot.key), form - 1};
  const char* prefix = _arena.data() + slot.key;
  std::uint32_t length;
  std::memcpy(&length, prefix, kLengthPrefix);
  return {prefix + kLengthPrefix, length};
}

std::size_t TokenFrequency::probe(std::string_view key, std::uint64_t hash) const {
  Probe probe(hash, _slots.size() - 1);
  const std::uint32_t meta = meta_of(key, hash);
  const bool short_key = is_inline(key);
  const std::uint64_t short_bytes = short_key ? packed(key) : 0;
  for (;; probe.next()) {
    const Slot& slot = _slots[probe.index()];
    if (slot.meta == 0) return probe.index();
    if (slot.meta != meta) continue;
    if (short_key ? slot.key == short_bytes : same_token(key_of(slot), key)) return probe.index();
  }
}

std::int32_t* TokenFrequency::find(std::string_view key, std::uint64_t hash) {
  return const_cast<std::int32_t*>(std::as_const(*this).find(key, hash));
}

const std::int32_t* TokenFrequency::find(std::string_view key, std::uint64_t hash) const {
  if (_size == 0) return nullptr;
  const Slot& slot = _slots[probe(key, hash)];
  return slot.meta == 0 ? nullptr : &slot.count;
}

std::int32_t& TokenFrequency::operator[](std::string_view key) {
  const std::uint64_t hash = hash_token(key);
  if (std::int32_t* count = find(key, hash)) return *count;
  return insert_new(key, hash, 0);
}

void TokenFrequency::reserve(std::size_t entries, std::size_t key_bytes) {
  const std::size_t wanted = _size + entries;
  std::size_t slot_count = _slots.empty() ? kFirstSlots : _slots.size();
  while (over_load(wanted, slot_count)) slot_count *= 2;
  if (slot_count != _slots.size()) grow_to(slot_count);
  const std::size_t arena_bytes = _arena.size() + key_bytes + entries * kLengthPrefix;
  // Geometric, as push_back would be: exact reservations on every call would copy quadratically.
  if (arena_bytes > _arena.capacity()) _arena.reserve(std::max(arena_bytes, 2 * _arena.capacity()));
}

std::int32_t& TokenFrequency::insert_new(std::string_view key, std::uint64_t hash,
                                         std::int32_t count) {
  if (key.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("token key longer than 4 GiB");
  }
  if (_slots.empty() || over_load(_size + 1, _slots.size())) {
    grow_to(_slots.empty() ? kFirstSlots : _slots.size() * 2);
  }
  Slot slot{0, meta_of(key, hash), count};
  if (is_inline(key)) {
    slot.key = packed(key);
  } else {
    const std::uint32_t length = static_cast<std::uint32_t>(key.size());
    slot.key = _arena.size();
    _arena.resize(_arena.size() + kLengthPrefix + key.size());
    std::memcpy(_arena.data() + slot.key, &length, kLengthPrefix);
    std::memcpy(_arena.data() + slot.key + kLengthPrefix, key.data(), key.size());
  }
  Slot& placed = _slots[place(slot, hash)];
  ++_size;
  return placed.count;
}

std::size_t TokenFrequency::place(Slot slot, std::uint64_t hash) {
  Probe probe(hash, _slots.size() - 1);
  while (_slots[probe.index()].meta != 0) probe.next();
  _slots[probe.index()] = slot;
  return probe.index();
}

void TokenFrequency::grow_to(std::size_t slot_count) {
  std::vector<Slot> old(slot_count);
  old.swap(_slots);
  for (const Slot& slot : old) {
    if (slot.meta != 0) place(slot, hash_token(key_of(slot)));
  }
}

bool TokenFrequency::erase(std::string_view key, std::uint64_t hash) {
  if (_size == 0) return false;
  const std::size_t index = probe(key, hash);
  if (_slots[index].meta == 0) return false;
  if ((_slots[index].meta & kFormMask) == kArenaForm) _dead_bytes += kLengthPrefix + key.size();
  const std::size_t mask = _slots.size() - 1;
  close_hole(
      index, mask, [&](std::size_t at) { return _slots[at].meta != 0; },
      [&](std::size_t at) { return Probe(hash_token(key_of(_slots[at])), mask).index(); },
      [&](std::size_t from, std::size_t to) { _slots[to] = _slots[from]; },
      [&](std::size_t at) { _slots[at] = Slot{}; });
  --_size;
  if (_dead_bytes * 2 > _arena.size()) compact_arena();
  return true;
}

// Moves every live long key down over the dead ones, in place, so that nothing is allocated. An
// arena entry is live when the slot that a search for its key finds points at it: a removed key
// may have come back, under a later offset. Entries only ever move down, over bytes already
// walked, so every key that a search compares is still whole where its slot says.
void TokenFrequency::compact_arena() {
  std::size_t kept = 0;
  for (std::size_t at = 0; at < _arena.size();) {
    std::uint32_t length;
    std::memcpy(&length, _arena.data() + at, kLengthPrefix);
    const std::size_t entry_bytes = kLengthPrefix + length;
    const std::string_view key(_arena.data() + at + kLengthPrefix, length);
    Slot& slot = _slots[probe(key, hash_token(key))];
    if (slot.meta != 0 && slot.key == at) {
      std::memmove(_arena.data() + kept, _arena.data() + at, entry_bytes);
      slot.key = kept;
      kept += entry_bytes;
    }
    at += entry_bytes;
  }
  _arena.resize(kept);
  _dead_bytes = 0;
}

void sort_by_key(std::vector<KeyedCount>& entries) {
  std::sort(entries.begin(), entries.end(), [](const KeyedCount& left, const KeyedCount& right) {
    return left.order != right.order ? left.order < right.order : left.key < right.key;
  });
}

}  // namespace tarn::typing::text
