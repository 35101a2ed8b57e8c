#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "EventTestSupport.h"
#include "ReceiptFixture.h"
#include "measurement/interface/APMInAppPurchaseTransactionReporter.h"
#include "measurement/storage/APMDigest.h"
#include "platform/core/DeterministicDispatch.h"

using namespace receipt_fixture;
using event_test::InternalEventRecorder;
using event_test::MonitorCapture;

namespace {

constexpr double kMarch1 = 1709287200;  // 2024-03-01T10:00:00Z
constexpr double kApril1 = 1711965600;  // 2024-04-01T10:00:00Z

platform::Product product(const std::string& id, const std::string& price = "0.99") {
    return {id, price, "USD", "Title of " + id, std::nullopt};
}

std::optional<APMPurchaseEvent> classify(const platform::Product& p, long quantity, const std::string& t,
                                         const std::string& ot, std::optional<double> date, const Bytes& receiptBytes) {
    APMPurchaseFacts facts{&p, true, quantity, t, ot, date};
    const auto items = APMReceiptPurchaseItems(receiptBytes).value_or(std::vector<APMInAppPurchaseItem>{});
    auto parameters = APMClassifyPurchase(facts, items);
    if (!parameters) return std::nullopt;
    return APMPurchaseEventFromParameters(std::move(*parameters), std::nullopt, false, false, "1");
}

std::int64_t intParam(const APMParameters& parameters, const char* name) {
    const auto* value = parameters.find(name);
    return value && value->isInt64() ? value->int64Value() : INT64_MIN;
}

}  // namespace

TEST(PurchaseAmounts, ExactMicroUnitsTruncatedTowardZero) {
    struct Case {
        const char* decimal;
        std::int64_t multiplier;
        std::optional<std::int64_t> micros;
    };
    const Case cases[] = {
        {"0.99", 3, 2970000},      {"2.01", 1, 2010000},         {"0.1", 3, 300000},
        {"1.0000019", 1, 1000001}, {"-1.0000019", 1, -1000001}, {"19.99", 0, 0},
        {"1.", 1, 1000000},        {".5", 2, 1000000},           {"abc", 1, std::nullopt},
        {"", 1, std::nullopt},     {"1e3", 1, std::nullopt},     {"99999999999999", 1, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(APMMicros(c.decimal, c.multiplier), c.micros) << c.decimal;
}

TEST(PurchaseFingerprints, TransactionFingerprintRefusesMissingAndZeroIdentifiers) {
    MonitorCapture monitor;
    platform::PaymentTransaction transaction{platform::PaymentTransactionState::Purchased, "p", 1, "0-00-0", {}, {}, 0};
    EXPECT_FALSE(APMTransactionFingerprint(&transaction));
    EXPECT_EQ(monitor.linesWithCode(21017).size(), 1u);
    transaction.transactionIdentifier = "";
    EXPECT_FALSE(APMTransactionFingerprint(&transaction));
    transaction.transactionIdentifier.reset();
    EXPECT_FALSE(APMTransactionFingerprint(&transaction));
    EXPECT_FALSE(APMTransactionFingerprint(nullptr));
    transaction.transactionIdentifier = "1000";
    EXPECT_EQ(APMTransactionFingerprint(&transaction), APMMD5String("1000"));
    transaction.state = platform::PaymentTransactionState::Restored;
    EXPECT_FALSE(APMTransactionFingerprint(&transaction));
    EXPECT_EQ(APMPurchaseDid("", std::nullopt, "p"), -1);
    EXPECT_EQ(APMPurchaseDid("2000", 258, "pro"), APM64LSBMD5("2000258pro"));
}

TEST(PurchaseClassification, ConsumableBoughtTwiceReportsEachWithItsOwnDid) {
    const auto bytes = receipt({{"coins", "1000", "1000"}, {"coins", "1001", "1001", 1, "2024-03-02T10:00:00Z"}});
    const auto p = product("coins");
    const auto event = classify(p, 3, "1001", "1001", kMarch1 + 86400, bytes);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->name, "_iap");
    EXPECT_EQ(intParam(event->parameters, "price"), 990000);
    EXPECT_EQ(intParam(event->parameters, "value"), 2970000);
    EXPECT_EQ(intParam(event->parameters, "quantity"), 3);
    EXPECT_EQ(intParam(event->parameters, "_did"), APMPurchaseDid("1001", std::nullopt, "coins"));
    EXPECT_EQ(*event->parameters.find("currency")->stringValue(), "USD");
    EXPECT_EQ(*event->parameters.find("_skv")->stringValue(), "1");
}

TEST(PurchaseClassification, UnmatchedAndRepurchasedNonConsumablesAreInvalid) {
    const auto p = product("unlock");
    const auto missing = classify(p, 1, "5", "5", kMarch1, receipt({{"other", "1", "1"}}));
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->name, "_iapx");
    EXPECT_FALSE(missing->parameters.contains("invalid"));
    const auto again = classify(p, 1, "7", "5", kMarch1, receipt({{"unlock", "5", "5", 0}}));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->name, "_iapx");
}

TEST(PurchaseClassification, RenewalAfterFreeTrialConverts) {
    const auto bytes = receipt({{"pro", "2000", "2000", 3, "2024-03-01T10:00:00Z", 257, true},
                                {"pro", "2001", "2000", 3, "2024-04-01T10:00:00Z", 258}});
    const auto event = classify(product("pro", "4.99"), 1, "2001", "2000", kApril1, bytes);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->name, "_assc");
    EXPECT_FALSE(event->parameters.contains("subscription"));
    EXPECT_EQ(intParam(event->parameters, "_did"), APMPurchaseDid("2000", 258, "pro"));
    EXPECT_EQ(intParam(event->parameters, "price"), 4990000);
}

TEST(PurchaseClassification, FreeTrialFirstPurchaseIsDiscountedToZero) {
    const auto bytes = receipt({{"pro", "2000", "2000", 3, "2024-03-01T10:00:00Z", 257, true}});
    const auto event = classify(product("pro", "4.99"), 1, "2000", "2000", kMarch1, bytes);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->name, "_iap");
    EXPECT_EQ(intParam(event->parameters, "free_trial"), 1);
    EXPECT_EQ(intParam(event->parameters, "subscription"), 1);
    EXPECT_EQ(intParam(event->parameters, "price_is_discounted"), 1);
    EXPECT_EQ(intParam(event->parameters, "price"), 0);
    EXPECT_EQ(intParam(event->parameters, "value"), 0);
    EXPECT_EQ(intParam(event->parameters, "original_price"), 4990000);
}

TEST(PurchaseClassification, IntroductoryOfferTakesTheDiscountPrice) {
    auto p = product("pro", "4.99");
    p.introductoryPrice = platform::ProductDiscount{"2.01", 1};
    const auto bytes = receipt({{"pro", "2000", "2000", 3, "2024-03-01T10:00:00Z", 257, false, true}});
    const auto event = classify(p, 2, "2000", "2000", kMarch1, bytes);
    ASSERT_TRUE(event);
    EXPECT_EQ(intParam(event->parameters, "price"), 2010000);
    EXPECT_EQ(intParam(event->parameters, "value"), 4020000);
    EXPECT_EQ(intParam(event->parameters, "original_price"), 4990000);
}

TEST(PurchaseClassification, SubscriptionDateIsComparedInWholeSeconds) {
    const auto bytes = receipt({{"pro", "2000", "2000", 3, "2024-03-01T10:00:00Z", 257}});
    const auto event = classify(product("pro"), 1, "2000", "2000", kMarch1 + 0.75, bytes);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->name, "_iap");
    EXPECT_EQ(intParam(event->parameters, "_did"), APMPurchaseDid("2000", 257, "pro"));
}

// The payment-queue and caller roads with a store, a receipt and an engine
// duplicate filter that remembers what was recorded.
class PurchaseReporting : public testing::Test {
protected:
    void SetUp() override {
        store->addProduct(product("pro", "4.99"));
        receiptSource->setReceipt(receipt({{"pro", "2000", "2000", 3, "2024-03-01T10:00:00Z", 257}}));
        APMInAppPurchaseTransactionReporter::Seams seams;
        seams.filterPurchaseTransactions = [this](auto transactions, auto callback) {
            decltype(transactions) kept;
            for (auto& t : transactions) {
                if (!recorded.count(APMTransactionFingerprint(&t).value_or(""))) kept.push_back(t);
            }
            callback(std::move(kept));
        };
        seams.recordPurchaseFingerprint = [this](const std::string& fingerprint) { recorded.insert(fingerprint); };
        reporter = APMInAppPurchaseTransactionReporter::create(dispatcher, dispatcher.makeSerialQueue("reporting"), cache,
                                                               receiptSource, seams);
    }

    platform::PaymentTransaction purchase() const {
        return {platform::PaymentTransactionState::Purchased, "pro", 1, "2000", "2000", kMarch1 + 0.4, 0};
    }

    MonitorCapture monitor;
    InternalEventRecorder events;
    platform::DeterministicDispatcher dispatcher;
    std::shared_ptr<platform::InMemoryPaymentStore> store = std::make_shared<platform::InMemoryPaymentStore>();
    std::shared_ptr<platform::InMemoryAppReceipt> receiptSource = std::make_shared<platform::InMemoryAppReceipt>();
    std::shared_ptr<APMInAppPurchaseProductCache> cache = APMInAppPurchaseProductCache::create(dispatcher, store);
    std::set<std::string> recorded;
    std::shared_ptr<APMInAppPurchaseTransactionReporter> reporter;
};

TEST_F(PurchaseReporting, FailedProductRequestDoesNotBlockALaterReport) {
    store->failNextRequests(1, "offline");
    reporter->paymentQueueUpdatedTransactions({purchase()});
    dispatcher.drain();
    EXPECT_TRUE(events.events().empty());
    EXPECT_EQ(monitor.linesWithCode(21027).size(), 1u);
    EXPECT_TRUE(recorded.empty());

    reporter->paymentQueueUpdatedTransactions({purchase()});
    dispatcher.drain();
    ASSERT_EQ(events.events().size(), 1u);
    EXPECT_EQ(events.events()[0].origin, "auto");
    EXPECT_EQ(events.events()[0].name, "_iap");
    EXPECT_EQ(recorded, std::set<std::string>{APMMD5String("2000")});

    reporter->paymentQueueUpdatedTransactions({purchase()});
    dispatcher.drain();
    EXPECT_EQ(events.events().size(), 1u);  // now a duplicate
}

TEST_F(PurchaseReporting, CallerRoadMatchesTheReceiptInWholeSecondsAndMarksVerified) {
    APMCallerTransaction transaction;
    transaction.productID = "pro";
    transaction.transactionID = "2000";
    transaction.originalTransactionID = "2000";
    transaction.purchaseDate = kMarch1 + 0.9;
    transaction.environment = "Sandbox";
    transaction.isVerified = true;
    reporter->reportTransaction(transaction);
    dispatcher.drain();
    ASSERT_EQ(events.events().size(), 1u);
    const auto& parameters = events.events()[0].parameters;
    EXPECT_EQ(events.events()[0].name, "_iap");
    EXPECT_EQ(intParam(parameters, "validated"), 1);
    EXPECT_EQ(intParam(parameters, "sandbox"), 1);
    EXPECT_EQ(intParam(parameters, "_did"), APMPurchaseDid("2000", 257, "pro"));
    EXPECT_EQ(*parameters.find("_skv")->stringValue(), "2");
}

TEST_F(PurchaseReporting, InvalidProductsStayInTheCacheAndLogNothing) {
    auto t = purchase();
    t.productIdentifier = "gone";
    reporter->paymentQueueUpdatedTransactions({t});
    dispatcher.drain();
    EXPECT_TRUE(events.events().empty());
    EXPECT_TRUE(cache->isCachedAsInvalid("gone"));
}

TEST(PurchaseReportingThreads, ConcurrentReportsEachClassifyTheirOwnRecords) {
    MonitorCapture monitor;
    std::mutex mutex;
    std::vector<std::string> names;
    const auto previous = APMSetInternalEventLogger([&](const std::string&, const std::string& name, const APMParameters&) {
        std::lock_guard lock(mutex);
        names.push_back(name);
    });
    const auto dispatcher = platform::makeRealDispatcher();
    auto store = std::make_shared<platform::InMemoryPaymentStore>();
    store->addProduct(product("coins"));
    auto cache = APMInAppPurchaseProductCache::create(*dispatcher, store);
    std::promise<void> cached;
    cache->requestProductsWithProductIdentifiers({"coins"}, dispatcher->makeSerialQueue("answers"),
                                                 [&](auto, auto, auto) { cached.set_value(); });
    cached.get_future().wait();
    auto receiptSource = std::make_shared<platform::InMemoryAppReceipt>(receipt({{"coins", "1", "1"}}));
    const auto reporter = APMInAppPurchaseTransactionReporter::create(*dispatcher, dispatcher->makeSerialQueue("r"),
                                                                      cache, receiptSource, {});
    const platform::PaymentTransaction bought{platform::PaymentTransactionState::Purchased, "coins", 1, "1", "1", kMarch1, 0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) reporter->reportTransactionsFromArray({bought});
        });
    }
    for (auto& thread : threads) thread.join();
    APMSetInternalEventLogger(previous);
    EXPECT_EQ(names, std::vector<std::string>(100, "_iap"));
}
