#pragma once
// What the rule engine's collector needs of the objects it walks: values,
// scopes and the host's roots. Objects are shared through std::shared_ptr;
// reference cycles (a closure and its scope, a map holding itself) are broken
// by the collector emptying the unreachable containers.
//
// Deep structures are walked and released with explicit work lists, never by
// recursion, so a chain of a million nested arrays or closures cannot
// exhaust the C++ stack.

#include <memory>
#include <vector>

namespace measurement::rules {

class Collectable;
using CollectablePtr = std::shared_ptr<Collectable>;

class Collectable {
public:
    virtual ~Collectable() = default;

    // Appends the objects this one keeps alive, for marking.
    virtual void appendReferences(std::vector<const Collectable*>& out) const;
    // Moves every strong reference this one holds into `out`, leaving it
    // empty: the sweep of an unreachable container, and the first step of an
    // iterative release.
    virtual void detachReferences(std::vector<CollectablePtr>& out);
};

// Drops the given references one at a time; an object losing its last owner
// first hands its own references to the list, so nothing recurses.
void releaseIteratively(std::vector<CollectablePtr>&& pending);

// For the destructors of containers: releases what `dying` still holds
// without recursing into nested containers.
void releaseReferencesOf(Collectable& dying);

}  // namespace measurement::rules
