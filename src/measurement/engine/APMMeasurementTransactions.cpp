// Transactions whose outcome the engine also records outside the database:
// the event write, bundling, the first open and storing a fetched
// configuration queue those writes with `whenCommitted`, so a rollback
// leaves them undone too.

#include "measurement/engine/APMMeasurement.h"
#include "measurement/storage/APMDatabase.h"

bool APMMeasurement::performCommittedTransaction(APMDatabase& database, const std::function<bool()>& block) {
    // Nested: the outer transaction decides.
    if (commitActions_) return database.performTransaction(block);
    commitActions_.emplace();
    bool committed = false;
    try {
        committed = database.performTransaction(block);
    } catch (...) {
        commitActions_.reset();
        throw;
    }
    std::vector<std::function<void()>> actions = std::move(*commitActions_);
    commitActions_.reset();
    if (committed) {
        for (const auto& action : actions) action();
    }
    return committed;
}

void APMMeasurement::whenCommitted(std::function<void()> action) {
    if (commitActions_) {
        commitActions_->push_back(std::move(action));
    } else {
        action();
    }
}
