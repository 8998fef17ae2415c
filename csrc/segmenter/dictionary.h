#pragma once

// The dictionary's trie as flat tables. While it is built, the root's children sit in a table over
// the Basic Multilingual Plane and every other edge in an open-addressed hash table keyed by (node,
// character). freeze() then lays the edges out for reading: one table of 16-byte slots, sized to
// the edges (not to a power of two), where a slot is a node: its parent, its character with the
// flags, and the weight of the word that ends there. A step of the route is one load. Nothing
// recurses over a word's length: building is a loop, freeing a few vectors.

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

  Dictionary();

  // Building: adds a word of `size` characters (none: nothing), replacing the weight of one
  // already there; marks a one-character user word, which the mixed cut keeps from the HMM.
  void insert(const Rune* runes, std::size_t size, double weight);
  void mark_user_single(Rune rune);
  // Ends building; only then can the dictionary be read.
  void freeze();

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
  struct BuildEdge {
    std::uint32_t parent;
    Rune rune;
    std::uint32_t child;  // 0 when free
  };

  static std::size_t slot_of(std::uint32_t node, Rune rune, std::size_t size) {
    const std::uint64_t hash = ((std::uint64_t{node} << 32) | rune) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::size_t>((static_cast<unsigned __int128>(hash) * size) >> 64);
  }
  std::uint32_t step(std::uint32_t node, Rune rune);  // the child while building, made if missing
  void grow();

  std::vector<Step> _root;  // by character; node ids past the slots' indices
  std::vector<Slot> _slots;
  // While building: the edges below the root's table (power-of-two size), and by node its flags
  // and weight. Node ids grow as nodes are made, so a parent's id is below its children's.
  std::vector<BuildEdge> _edges;
  std::vector<std::uint32_t> _flags;
  std::vector<double> _weights;
  std::size_t _used = 0;
};

}  // namespace pytarntext::segmenter
