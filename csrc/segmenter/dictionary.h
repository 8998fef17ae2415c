#pragma once

// The dictionary's trie as flat tables: the root's children in a table over the Basic Multilingual
// Plane, every other edge in one open-addressed table of 16-byte slots, where a slot is a node: its
// parent, its character with the flags, and the weight of the word that ends there. A step of the
// route is one load. The table is sized once, before the first word, from a bound on the edges the
// words make (about two thirds full at most), so that words go straight to where they are read:
// no table to build and then lay out again. Nothing recurses over a word's length: building is a
// loop, freeing a few vectors.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "utf8.h"

namespace pytarntext::segmenter {

class Dictionary {
 public:
  static constexpr std::uint32_t kWord = 1;        // a word ends at this node
  static constexpr std::uint32_t kUserSingle = 2;  // a user dictionary has this one-character word

  // Where a step leads: `node` (0: nowhere), the flags above, and the weight of the word that
  // ends there (of the last line that gave it, as in the library).
  struct Step {
    std::uint32_t node;
    std::uint32_t flags;
    double weight;
  };

  // Room for words that make at most `edges` edges below the root's table: a word of n
  // characters makes at most n - 1, or n when its first is above the Basic Multilingual Plane.
  explicit Dictionary(std::size_t edges);
  Dictionary() = default;  // holds nothing until one sized to its words is assigned

  // Adds a word of `size` characters (none: nothing), replacing the weight of one already there;
  // marks a one-character user word, which the mixed cut keeps from the HMM.
  void insert(const Rune* runes, std::size_t size, double weight);
  void mark_user_single(Rune rune);

  Step root(Rune rune) const {
    if (rune < kRootTable) return _root[rune];
    return child(kRootNode, rune);
  }
  Step child(std::uint32_t node, Rune rune) const {
    for (std::size_t at = slot_of(node, rune, _slots.size());;) {
      const Slot& slot = _slots[at];
      if (slot.parent == node && (slot.rune & kRuneMask) == rune) {
        return {static_cast<std::uint32_t>(at + 1), slot.rune >> kFlagShift, slot.weight};
      }
      if (slot.parent == 0) return {0, 0, 0.0};
      if (++at == _slots.size()) at = 0;
    }
  }
  // Asks the cache for where inserting this word will write its first edge below the root's
  // table, when that edge's parent is there already.
  void prefetch_insert(const Rune* runes, std::size_t size) const {
    if (size < 2 || runes[0] >= kRootTable) return;
    __builtin_prefetch(&_slots[slot_of(_root_ids + runes[0], runes[1], _slots.size())], 1);
  }
  // Whether a word of exactly these characters is in the dictionary.
  bool contains(const Rune* runes, std::size_t size) const;
  bool is_user_single(Rune rune) const { return (root(rune).flags & kUserSingle) != 0; }

 private:
  static constexpr Rune kRootTable = 0x10000;
  static constexpr std::uint32_t kRootNode = 0xFFFFFFFF;  // the root, as a parent
  static constexpr int kFlagShift = 24;                   // characters take 21 bits
  static constexpr Rune kRuneMask = (Rune{1} << kFlagShift) - 1;

  struct Slot {
    std::uint32_t parent;  // 0 when free
    Rune rune;             // the flags in its top bits
    double weight;
  };

  static std::size_t slot_of(std::uint32_t node, Rune rune, std::size_t size) {
    const std::uint64_t hash = ((std::uint64_t{node} << 32) | rune) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::size_t>((static_cast<unsigned __int128>(hash) * size) >> 64);
  }
  // The child, made if missing; `node` 0 is the root.
  std::uint32_t step(std::uint32_t node, Rune rune);
  void mark(std::uint32_t node, std::uint32_t flags);
  void set_weight(std::uint32_t node, double weight);

  std::vector<Step> _root;  // by character; node ids from _root_ids on
  std::vector<Slot> _slots;
  std::uint32_t _root_ids = 0;  // the id of the root table's first character
  std::size_t _used = 0;
};

}  // namespace pytarntext::segmenter
