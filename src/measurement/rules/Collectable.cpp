#include "measurement/rules/Collectable.h"

namespace measurement::rules {

void Collectable::appendReferences(std::vector<const Collectable*>&) const {}

void Collectable::detachReferences(std::vector<CollectablePtr>&) {}

void releaseIteratively(std::vector<CollectablePtr>&& pending) {
    std::vector<CollectablePtr> work = std::move(pending);
    while (!work.empty()) {
        CollectablePtr next = std::move(work.back());
        work.pop_back();
        if (next && next.use_count() == 1) next->detachReferences(work);
        // `next` dies here holding nothing, so its destructor stays shallow.
    }
}

void releaseReferencesOf(Collectable& dying) {
    std::vector<CollectablePtr> held;
    dying.detachReferences(held);
    releaseIteratively(std::move(held));
}

}  // namespace measurement::rules
