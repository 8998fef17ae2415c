#include "dictionary.h"

#include <stdexcept>

namespace pytarntext::segmenter {

Dictionary::Dictionary(std::size_t edges) : _root(kRootTable, Step{0, 0, 0.0}) {
  if (edges > 0x80000000u) throw std::length_error("the dictionary has too many characters");
  // About two thirds full at most, whatever the count; at least one free slot ends every probe.
  _slots.assign(edges + edges / 2 + 1, Slot{0, 0, 0.0});
  _root_ids = static_cast<std::uint32_t>(_slots.size() + 1);
}

std::uint32_t Dictionary::step(std::uint32_t node, Rune rune) {
  if (node == 0 && rune < kRootTable) {
    Step& root = _root[rune];
    if (root.node == 0) root.node = _root_ids + rune;
    return root.node;
  }
  const std::uint32_t parent = node == 0 ? kRootNode : node;
  std::size_t at = slot_of(parent, rune, _slots.size());
  for (; _slots[at].parent != 0; at = at + 1 == _slots.size() ? 0 : at + 1) {
    const Slot& slot = _slots[at];
    if (slot.parent == parent && (slot.rune & kRuneMask) == rune) {
      return static_cast<std::uint32_t>(at + 1);
    }
  }
  // The bound the table was sized to was wrong: never probe a table with no free slot.
  if (_used + 2 > _slots.size()) throw std::logic_error("the dictionary outgrew its bound");
  _slots[at] = Slot{parent, rune, 0.0};
  ++_used;
  return static_cast<std::uint32_t>(at + 1);
}

void Dictionary::mark(std::uint32_t node, std::uint32_t flags) {
  if (node >= _root_ids) {
    _root[node - _root_ids].flags |= flags;
  } else {
    _slots[node - 1].rune |= flags << kFlagShift;
  }
}

void Dictionary::set_weight(std::uint32_t node, double weight) {
  if (node >= _root_ids) {
    _root[node - _root_ids].weight = weight;
  } else {
    _slots[node - 1].weight = weight;
  }
}

void Dictionary::insert(const Rune* runes, std::size_t size, double weight) {
  if (size == 0) return;
  std::uint32_t node = 0;
  for (std::size_t i = 0; i < size; ++i) node = step(node, runes[i]);
  mark(node, kWord);
  set_weight(node, weight);
}

void Dictionary::mark_user_single(Rune rune) { mark(step(0, rune), kUserSingle); }

bool Dictionary::contains(const Rune* runes, std::size_t size) const {
  if (size == 0) return false;
  Step step = root(runes[0]);
  for (std::size_t i = 1; step.node != 0 && i < size; ++i) step = child(step.node, runes[i]);
  return step.node != 0 && (step.flags & kWord) != 0;
}

}  // namespace pytarntext::segmenter
