#include "dictionary.h"

#include <stdexcept>

namespace pytarntext::segmenter {

namespace {
constexpr std::size_t kFirstEdges = 1024;
constexpr std::uint32_t kLastNode = 0xFFFFFFF0;
}  // namespace

Dictionary::Dictionary()
    : _root(kRootTable, Step{0, 0, 0.0}),
      _edges(kFirstEdges, BuildEdge{0, 0, 0}),
      _flags(1, 0),
      _weights(1, 0.0) {}

void Dictionary::grow() {
  std::vector<BuildEdge> old(2 * _edges.size(), BuildEdge{0, 0, 0});
  old.swap(_edges);
  for (const BuildEdge& edge : old) {
    if (edge.child == 0) continue;
    std::size_t at = slot_of(edge.parent, edge.rune, _edges.size());
    while (_edges[at].child != 0) at = (at + 1) & (_edges.size() - 1);
    _edges[at] = edge;
  }
}

std::uint32_t Dictionary::step(std::uint32_t node, Rune rune) {
  const auto new_node = [this] {
    if (_weights.size() >= kLastNode) {
      throw std::length_error("the dictionary has too many characters");
    }
    _flags.push_back(0);
    _weights.push_back(0.0);
    return static_cast<std::uint32_t>(_weights.size() - 1);
  };
  if (node == 0 && rune < kRootTable) {
    Step& root = _root[rune];
    if (root.node == 0) root.node = new_node();
    return root.node;
  }
  if (4 * (_used + 1) > 3 * _edges.size()) grow();  // at most three quarters full
  std::size_t at = slot_of(node, rune, _edges.size());
  while (_edges[at].child != 0 && !(_edges[at].parent == node && _edges[at].rune == rune)) {
    at = (at + 1) & (_edges.size() - 1);
  }
  BuildEdge& edge = _edges[at];
  if (edge.child == 0) {
    edge = BuildEdge{node, rune, new_node()};
    ++_used;
  }
  return edge.child;
}

void Dictionary::insert(const Rune* runes, std::size_t size, double weight) {
  if (size == 0) return;
  std::uint32_t node = 0;
  for (std::size_t i = 0; i < size; ++i) node = step(node, runes[i]);
  _flags[node] |= kWord;
  _weights[node] = weight;
}

void Dictionary::mark_user_single(Rune rune) { _flags[step(0, rune)] |= kUserSingle; }

void Dictionary::freeze() {
  const std::size_t nodes = _weights.size();
  if (_used > 0x80000000u) throw std::length_error("the dictionary has too many characters");
  // About two thirds full, whatever the count; at least one free slot ends every probe.
  _slots.assign(_used + _used / 2 + 1, Slot{0, 0, 0.0});
  const auto root_ids = static_cast<std::uint32_t>(_slots.size() + 1);
  std::vector<std::uint32_t> final_id(nodes, 0);
  for (Rune rune = 0; rune < kRootTable; ++rune) {
    const std::uint32_t node = _root[rune].node;
    if (node == 0) continue;
    final_id[node] = root_ids + rune;
    _root[rune] = Step{root_ids + rune, _flags[node], _weights[node]};
  }
  // The edges by their child's id: a parent's id is below its children's, so each is placed
  // after its parent, whose place names it.
  std::vector<std::uint32_t> edge_of(nodes, 0);
  for (std::size_t at = 0; at < _edges.size(); ++at) {
    if (_edges[at].child != 0) edge_of[_edges[at].child] = static_cast<std::uint32_t>(at + 1);
  }
  for (std::size_t node = 1; node < nodes; ++node) {
    if (edge_of[node] == 0) continue;  // a child of the root's table
    const BuildEdge& edge = _edges[edge_of[node] - 1];
    const std::uint32_t parent = edge.parent == 0 ? kRootNode : final_id[edge.parent];
    std::size_t at = slot_of(parent, edge.rune, _slots.size());
    while (_slots[at].parent != 0) {
      if (++at == _slots.size()) at = 0;
    }
    _slots[at] = Slot{parent, edge.rune | (_flags[node] << kFlagShift), _weights[node]};
    final_id[node] = static_cast<std::uint32_t>(at + 1);
  }
  std::vector<BuildEdge>().swap(_edges);
  std::vector<std::uint32_t>().swap(_flags);
  std::vector<double>().swap(_weights);
}

bool Dictionary::contains(const Rune* runes, std::size_t size) const {
  if (size == 0) return false;
  Step step = root(runes[0]);
  for (std::size_t i = 1; step.node != 0 && i < size; ++i) step = child(step.node, runes[i]);
  return step.node != 0 && (step.flags & kWord) != 0;
}

}  // namespace pytarntext::segmenter
