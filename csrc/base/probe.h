#pragma once

// The probe of every open-addressing table here (the encoder's token counts, a document's
// distinct tokens, the segmenter's cache of words): linear probing over a power-of-two number of
// slots, written once.
//
// - Where a key starts: the low bits of its hash. Every table's hash brings all of its input bits
//   down to the low ones (hash_token's folded multiply, mix64, the word cache's finaliser), so a
//   mask spreads keys as well as a modulo would, and a power-of-two slot count makes it one AND.
// - Where it goes next: the next slot, wrapping at the end. Neighbouring slots share a cache line,
//   so most collisions cost no further memory access, and the tables stay at most 3/4 full (the
//   token counts) or half full (the others), where runs of occupied slots stay short.
// - Where it stops: at an empty slot or at the key, which each table tests in its own way. A table
//   whose keys an adversary may choose bounds the walk by distance() (the word cache reads at most
//   32 slots with the interpreter lock held).
// - How a key leaves: by backward shift (close_hole), which moves later entries of the run back
//   over the freed slot wherever a search for them passes it. So an empty slot still ends every
//   search, no slot needs a tombstone, and lookups after many removals are as short as before.

#include <bit>
#include <cstddef>
#include <cstdint>

namespace tarn {

// A slot count the probe can take: the mask of its low bits must cover every slot, and only those.
constexpr bool is_slot_count(std::size_t slots) { return std::has_single_bit(slots); }

class Probe {
 public:
  static_assert(sizeof(std::size_t) == sizeof(std::uint64_t),
                "a slot index takes the low bits of a 64-bit hash as they are");

  // The probe of a key with `hash` in a table whose slot count (is_slot_count) less one is `mask`.
  // The mask, not the count: a caller that probes for many keys computes it once.
  Probe(std::uint64_t hash, std::size_t mask)
      : _mask(mask), _index(static_cast<std::size_t>(hash) & mask) {}

  std::size_t index() const { return _index; }
  // Slots read before this one.
  std::size_t distance() const { return _distance; }
  void next() {
    _index = (_index + 1) & _mask;
    ++_distance;
  }

 private:
  std::size_t _mask;
  std::size_t _index;
  std::size_t _distance = 0;
};

// Removes the entry at `hole` by backward shift. Walks the run after it up to the next empty slot;
// an entry there whose probe began at or before the hole (home_of(index): Probe(its hash,
// mask).index()) would no longer be found past an empty slot, so it moves into the hole
// (move(from, to)) and its own slot becomes the hole. The last hole is emptied (clear(index)).
// The table must keep an empty slot besides the hole, as every table here does.
template <class InUse, class HomeOf, class Move, class Clear>
void close_hole(std::size_t hole, std::size_t mask, InUse in_use, HomeOf home_of, Move move,
                Clear clear) {
  Probe walk(hole, mask);
  for (walk.next(); in_use(walk.index()); walk.next()) {
    const std::size_t at = walk.index();
    // Steps from the entry's home to its slot, against steps from the hole to it: the hole lies on
    // its probe when the first is not shorter.
    if (((at - home_of(at)) & mask) >= ((at - hole) & mask)) {
      move(at, hole);
      hole = at;
    }
  }
  clear(hole);
}

}  // namespace tarn
