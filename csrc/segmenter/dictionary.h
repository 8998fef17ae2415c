#pragma once

// The dictionary's trie as flat tables: the children of the root in a table over the Basic
// Multilingual Plane, every other edge in one open-addressed hash table keyed by (node, character).
// A step is one load of a 24-byte slot that also holds the word that ends there, if any. Nothing
// recurses over a word's length: building is a loop, freeing is two vectors.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "utf8.h"

namespace pytarntext::segmenter {

class Dictionary {
 public:
  static constexpr std::uint32_t kWord = 1;        // a word ends at this node
  static constexpr std::uint32_t kUserSingle = 2;  // a user dictionary has this one-character word

  // Where a step leads: `node` (0 where the root's table has no child), the flags above, and the
  // weight of the word that ends there (of the last line that gave it, as in the library).
  struct Slot {
    std::uint64_t key;  // (parent << 32) | character; kEmpty when free
    double weight;
    std::uint32_t node;
    std::uint32_t flags;
  };

  Dictionary();

  // Adds a word of `size` characters (none: nothing), replacing the weight of one already there.
  void insert(const Rune* runes, std::size_t size, double weight);
  // Marks a one-character user word, which the mixed cut keeps away from the HMM.
  void mark_user_single(Rune rune);

  // The root's child for `rune`, or null.
  const Slot* root(Rune rune) const {
    if (rune < kRootTable) return _root[rune].node != 0 ? &_root[rune] : nullptr;
    return child(0, rune);
  }
  // The child of `node` for `rune`, or null.
  const Slot* child(std::uint32_t node, Rune rune) const {
    const std::uint64_t key = (std::uint64_t{node} << 32) | rune;
    for (std::size_t at = slot_of(key);; at = (at + 1) & _mask) {
      const Slot& slot = _slots[at];
      if (slot.key == key) return &slot;
      if (slot.key == kEmpty) return nullptr;
    }
  }
  // The word of exactly these characters, or null.
  const Slot* find(const Rune* runes, std::size_t size) const;
  bool is_user_single(Rune rune) const {
    const Slot* slot = root(rune);
    return slot != nullptr && (slot->flags & kUserSingle) != 0;
  }

 private:
  static constexpr Rune kRootTable = 0x10000;
  static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};

  std::size_t slot_of(std::uint64_t key) const {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> _shift);
  }
  Slot& step(std::uint32_t node, Rune rune);  // the child, made if missing
  void grow();

  std::vector<Slot> _root;
  std::vector<Slot> _slots;
  std::size_t _mask = 0;
  int _shift = 0;
  std::size_t _used = 0;
  std::uint32_t _nodes = 0;  // node ids handed out; the root is 0
};

}  // namespace pytarntext::segmenter
