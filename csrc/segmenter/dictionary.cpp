#include "dictionary.h"

#include <stdexcept>

namespace pytarntext::segmenter {

namespace {
constexpr int kFirstBits = 10;
}

Dictionary::Dictionary()
    : _root(kRootTable, Slot{0, 0.0, 0, 0}),
      _slots(std::size_t{1} << kFirstBits, Slot{kEmpty, 0.0, 0, 0}),
      _mask((std::size_t{1} << kFirstBits) - 1),
      _shift(64 - kFirstBits) {}

void Dictionary::grow() {
  std::vector<Slot> old(2 * _slots.size(), Slot{kEmpty, 0.0, 0, 0});
  old.swap(_slots);
  _mask = _slots.size() - 1;
  --_shift;
  for (const Slot& slot : old) {
    if (slot.key == kEmpty) continue;
    std::size_t at = slot_of(slot.key);
    while (_slots[at].key != kEmpty) at = (at + 1) & _mask;
    _slots[at] = slot;
  }
}

Dictionary::Slot& Dictionary::step(std::uint32_t node, Rune rune) {
  if (node == 0 && rune < kRootTable) {
    Slot& slot = _root[rune];
    if (slot.node == 0) slot.node = ++_nodes;
    return slot;
  }
  if (4 * (_used + 1) > 3 * _slots.size()) grow();  // at most three quarters full
  const std::uint64_t key = (std::uint64_t{node} << 32) | rune;
  std::size_t at = slot_of(key);
  while (_slots[at].key != key && _slots[at].key != kEmpty) at = (at + 1) & _mask;
  Slot& slot = _slots[at];
  if (slot.key == kEmpty) {
    if (_nodes == UINT32_MAX) throw std::length_error("the dictionary has too many characters");
    slot.key = key;
    slot.node = ++_nodes;
    ++_used;
  }
  return slot;
}

void Dictionary::insert(const Rune* runes, std::size_t size, double weight) {
  if (size == 0) return;
  std::uint32_t node = 0;
  Slot* slot = nullptr;
  for (std::size_t i = 0; i < size; ++i) {
    slot = &step(node, runes[i]);
    node = slot->node;
  }
  slot->flags |= kWord;
  slot->weight = weight;
}

void Dictionary::mark_user_single(Rune rune) { step(0, rune).flags |= kUserSingle; }

const Dictionary::Slot* Dictionary::find(const Rune* runes, std::size_t size) const {
  if (size == 0) return nullptr;
  const Slot* slot = root(runes[0]);
  for (std::size_t i = 1; slot != nullptr && i < size; ++i) slot = child(slot->node, runes[i]);
  return slot != nullptr && (slot->flags & kWord) != 0 ? slot : nullptr;
}

}  // namespace pytarntext::segmenter
