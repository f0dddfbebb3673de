// The record of the last comparison and the listeners told of each new one.
#include <map>

#include "workflow/differences.h"

namespace workflow {
namespace {

struct ComparisonEvents {
  std::optional<ComparedPair> last;
  std::map<int, ComparisonListener> listeners;
  int nextId = 1;
};

ComparisonEvents& events() {
  static ComparisonEvents e;
  return e;
}

}  // namespace

std::optional<ComparedPair> lastComparison() { return events().last; }

int addComparisonListener(ComparisonListener listener) {
  const int id = events().nextId++;
  events().listeners.emplace(id, std::move(listener));
  return id;
}

void removeComparisonListener(int id) { events().listeners.erase(id); }

void comparisonFinished(const ComparedPair& pair) {
  events().last = pair;
  // A listener may remove itself while being told: walk a copy.
  const auto listeners = events().listeners;
  for (const auto& [id, listener] : listeners) listener(pair);
}

}  // namespace workflow
