#pragma once

// The dictionary's trie as flat tables: the children of the root in a table over the Basic
// Multilingual Plane, every other edge in one open-addressed hash table of 12-byte slots keyed by
// (node, character), each also telling whether a word ends at the child; the words' weights in an
// array by node. Nothing recurses over a word's length: building is a loop, freeing three vectors.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "utf8.h"

namespace pytarntext::segmenter {

class Dictionary {
 public:
  static constexpr std::uint32_t kWord = 1;        // a word ends at this node
  static constexpr std::uint32_t kUserSingle = 2;  // a user dictionary has this one-character word

  // Where a step leads: `node` (0: nowhere) and the flags above.
  struct Step {
    std::uint32_t node;
    std::uint32_t flags;
  };

  Dictionary();

  // Adds a word of `size` characters (none: nothing), replacing the weight of one already there.
  void insert(const Rune* runes, std::size_t size, double weight);
  // Marks a one-character user word, which the mixed cut keeps away from the HMM.
  void mark_user_single(Rune rune);

  Step root(Rune rune) const {
    if (rune < kRootTable) return _root[rune];
    return child(0, rune);
  }
  Step child(std::uint32_t node, Rune rune) const {
    for (std::size_t at = slot_of(node, rune);; at = (at + 1) & _mask) {
      const Edge& edge = _edges[at];
      if (edge.parent == node && edge.rune == rune) {
        return {edge.child & kNodeMask, edge.child >> kFlagShift};
      }
      if (edge.child == 0) return {0, 0};
    }
  }
  // The weight of the word that ends at `node` (of the last line that gave it, as in the library).
  double weight(std::uint32_t node) const { return _weights[node]; }
  // Whether a word of exactly these characters is in the dictionary.
  bool contains(const Rune* runes, std::size_t size) const;
  bool is_user_single(Rune rune) const { return (root(rune).flags & kUserSingle) != 0; }

 private:
  static constexpr Rune kRootTable = 0x10000;
  static constexpr int kFlagShift = 30;
  static constexpr std::uint32_t kNodeMask = (std::uint32_t{1} << kFlagShift) - 1;

  struct Edge {
    std::uint32_t parent;
    Rune rune;
    std::uint32_t child;  // the node, the flags in its top bits; 0 when the slot is free
  };

  std::size_t slot_of(std::uint32_t node, Rune rune) const {
    const std::uint64_t key = (std::uint64_t{node} << 32) | rune;
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> _shift);
  }
  // The node of the child, made if missing; `flags` are added to it.
  std::uint32_t step(std::uint32_t node, Rune rune, std::uint32_t flags);
  std::uint32_t new_node();
  void grow();

  std::vector<Step> _root;
  std::vector<Edge> _edges;
  std::vector<double> _weights;  // by node; the root is node 0
  std::size_t _mask = 0;
  int _shift = 0;
  std::size_t _used = 0;
};

}  // namespace pytarntext::segmenter
