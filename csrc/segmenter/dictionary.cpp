#include "dictionary.h"

#include <stdexcept>

namespace pytarntext::segmenter {

namespace {
constexpr int kFirstBits = 10;
}

Dictionary::Dictionary()
    : _root(kRootTable, Step{0, 0}),
      _edges(std::size_t{1} << kFirstBits, Edge{0, 0, 0}),
      _weights(1, 0.0),
      _mask((std::size_t{1} << kFirstBits) - 1),
      _shift(64 - kFirstBits) {}

void Dictionary::grow() {
  std::vector<Edge> old(2 * _edges.size(), Edge{0, 0, 0});
  old.swap(_edges);
  _mask = _edges.size() - 1;
  --_shift;
  for (const Edge& edge : old) {
    if (edge.child == 0) continue;
    std::size_t at = slot_of(edge.parent, edge.rune);
    while (_edges[at].child != 0) at = (at + 1) & _mask;
    _edges[at] = edge;
  }
}

std::uint32_t Dictionary::new_node() {
  if (_weights.size() > kNodeMask)
    throw std::length_error("the dictionary has too many characters");
  _weights.push_back(0.0);
  return static_cast<std::uint32_t>(_weights.size() - 1);
}

std::uint32_t Dictionary::step(std::uint32_t node, Rune rune, std::uint32_t flags) {
  if (node == 0 && rune < kRootTable) {
    Step& root = _root[rune];
    if (root.node == 0) root.node = new_node();
    root.flags |= flags;
    return root.node;
  }
  if (4 * (_used + 1) > 3 * _edges.size()) grow();  // at most three quarters full
  std::size_t at = slot_of(node, rune);
  while (_edges[at].child != 0 && !(_edges[at].parent == node && _edges[at].rune == rune)) {
    at = (at + 1) & _mask;
  }
  Edge& edge = _edges[at];
  if (edge.child == 0) {
    edge = Edge{node, rune, new_node()};
    ++_used;
  }
  edge.child |= flags << kFlagShift;
  return edge.child & kNodeMask;
}

void Dictionary::insert(const Rune* runes, std::size_t size, double weight) {
  if (size == 0) return;
  std::uint32_t node = 0;
  for (std::size_t i = 0; i + 1 < size; ++i) node = step(node, runes[i], 0);
  node = step(node, runes[size - 1], kWord);
  _weights[node] = weight;
}

void Dictionary::mark_user_single(Rune rune) { step(0, rune, kUserSingle); }

bool Dictionary::contains(const Rune* runes, std::size_t size) const {
  if (size == 0) return false;
  Step step = root(runes[0]);
  for (std::size_t i = 1; step.node != 0 && i < size; ++i) step = child(step.node, runes[i]);
  return step.node != 0 && (step.flags & kWord) != 0;
}

}  // namespace pytarntext::segmenter
