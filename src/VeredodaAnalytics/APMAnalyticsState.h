#pragma once
// The facade's process state, shared by its source files (not for use
// outside this library). Which queue or lock owns each member is said
// beside it.

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "VeredodaAnalytics/APMAnalytics.h"

namespace apm_analytics {

struct FacadeState {
    explicit FacadeState(APMAnalyticsEnvironment environment);

    platform::Dispatcher& dispatcher;
    platform::NotificationCenter& center;
    const std::shared_ptr<APMUserDefaults> suite;
    const std::shared_ptr<APMConsentSettingsStore> consent;

    const platform::QueueRef serialQueue;
    // Stands for the global queue on which answers without a queue of their own arrive.
    const platform::QueueRef completionQueue;
    platform::OperationQueue operations;
    // Set from the moment a 0.5 s hold of `operations` is queued until it ends.
    std::atomic<bool> holdPending{false};

    // Held to stamp an event and queue it as one step, so events are queued
    // in timestamp order.
    std::mutex timestampMutex;

    std::mutex loadTimestampMutex;
    double loadTimestampValue = 0;  // loadTimestampMutex

    std::atomic<bool> started{false};
    std::atomic<bool> deactivated{false};
    std::atomic<bool> enabled{false};  // written on the serial queue
    std::atomic<bool> appDelegateProxyCreated{false};  // set once, on the main queue

    // Listeners added, counted from the call on, and not yet removed, counted
    // until their removal took effect: with none, no event needs handing to
    // the serial queue, as none could hear it there.
    std::atomic<int> listenersHeld{0};

    // Serial queue only.
    APMLogEventInterceptor interceptor;
    bool hasListenerTable = false;
    std::vector<std::pair<APMLogEventListenerToken, APMLogEventListener>> listeners;
    std::function<void(const std::string&)> openURLListener;

    const std::shared_ptr<platform::PaymentStore> paymentStore;
    const std::shared_ptr<platform::AppReceipt> receipt;
    // Registered with the payment store by the start (on the main queue),
    // removed when the state is replaced; it hands every update to
    // APMAnalytics::paymentQueueUpdatedTransactions.
    const std::shared_ptr<platform::PaymentTransactionObserver> paymentObserver;
    std::mutex purchaseMutex;
    // Made by the start, then only read.
    std::shared_ptr<APMInAppPurchaseTransactionReporter> purchaseReporter;  // purchaseMutex

    std::atomic<APMLogEventListenerToken> nextToken{1};
    std::mutex observerMutex;
    platform::NotificationObserverToken configurationObserver;  // observerMutex
};

// The current state; blocks hold the state they were queued on.
std::shared_ptr<FacadeState> state();

// Makes the facade's product cache and purchase reporter (at the start).
void startPurchaseReporting(FacadeState& facade);
std::shared_ptr<platform::PaymentTransactionObserver> makePaymentObserver();

}  // namespace apm_analytics
