#include <gtest/gtest.h>

#include "ReceiptFixture.h"
#include "measurement/interface/APMReceipt.h"
#include "measurement/storage/StorageTestSupport.h"

using namespace receipt_fixture;
using storage_test::MonitorCapture;

namespace {

std::vector<APMInAppPurchaseItem> parse(const Bytes& bytes) {
    auto items = APMReceiptPurchaseItems(bytes);
    EXPECT_TRUE(items.has_value());
    return items.value_or(std::vector<APMInAppPurchaseItem>{});
}

}  // namespace

TEST(ReceiptRecords, ReadsEveryFieldOfEachRecordInFileOrder) {
    const Bytes bytes = tlv(0x31, concat({originalVersion("1.2"),
                                          record({utf8Field(0xA6, "coins.100"), utf8Field(0xA7, "1000"),
                                                  utf8Field(0xA9, "999"), intField(0xAB, {1}),
                                                  ia5Field(0xA8, "2024-03-01T10:00:00Z"),
                                                  ia5Field(0xAA, "2024-02-01T10:00:00Z"),
                                                  ia5Field(0xAC, "2024-05-01T10:00:00Z"),
                                                  ia5Field(0xB0, "2024-06-01T10:00:00Z"), intField(0xB1, {1}),
                                                  intField(0xB7, {0}), intField(0xAF, {0x01, 0x02})}),
                                          record({utf8Field(0xA6, "pro.monthly")})}));
    const auto items = parse(bytes);
    ASSERT_EQ(items.size(), 2u);
    APMInAppPurchaseItem first;
    first.productID = "coins.100";
    first.transactionID = "1000";
    first.originalTransactionID = "999";
    first.purchaseType = 1;
    first.purchaseDateIA5String = "2024-03-01T10:00:00Z";
    first.originalPurchaseDateIA5String = "2024-02-01T10:00:00Z";
    first.subscriptionExpirationDateIA5String = "2024-05-01T10:00:00Z";
    first.cancellationDateIA5String = "2024-06-01T10:00:00Z";
    first.freeTrial = true;
    first.webOrderLineItemID = 0x0102;
    EXPECT_EQ(items[0], first);
    EXPECT_EQ(items[1].productID, "pro.monthly");
}

TEST(ReceiptRecords, NoRecordStartGivesNoRecordsAndEmptyDataGivesNone) {
    EXPECT_TRUE(parse(tlv(0x31, concat({originalVersion("1.2"), utf8Field(0xA6, "loose")}))).empty());
    EXPECT_FALSE(APMReceiptPurchaseItems({}).has_value());
}

TEST(ReceiptRecords, RecordWithoutProductIsDroppedUnlessLast) {
    const auto items = parse(concat({record({utf8Field(0xA7, "1")}), record({utf8Field(0xA6, "p")}),
                                     record({utf8Field(0xA7, "3")})}));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].productID, "p");
    EXPECT_FALSE(items[1].productID.has_value());
    EXPECT_EQ(items[1].transactionID, "3");
}

TEST(ReceiptRecords, OddFlagValuesAreLoggedAndLeftOff) {
    MonitorCapture monitor;
    const auto items = parse(record({utf8Field(0xA6, "p"), intField(0xB1, {2}), intField(0xB7, {7})}));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_FALSE(items[0].freeTrial);
    EXPECT_FALSE(items[0].introductoryOffer);
    EXPECT_EQ(monitor.linesWithCode(39025).size(), 1u);
    EXPECT_EQ(monitor.linesWithCode(39028).size(), 1u);
}

TEST(ReceiptRecords, WrongValueTypesAndInvalidTextLeaveFieldsUnset) {
    const auto items = parse(record({utf8Field(0xA6, "p"), field(0xA7, 0x16, text("ia5-not-utf8-tag")),
                                     field(0xA9, 0x0C, {0xFF, 0xFE}), intField(0xAB, {1, 2})}));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_FALSE(items[0].transactionID.has_value());
    EXPECT_FALSE(items[0].originalTransactionID.has_value());
    EXPECT_FALSE(items[0].purchaseType.has_value());
}

TEST(ReceiptRecords, EveryTruncationOfAReceiptStaysInBounds) {
    const auto full = receipt({{"a", "1", "1"}, {"b", "2", "2", 3, "2024-04-01T10:00:00Z", 77}});
    for (std::size_t size = 1; size <= full.size(); ++size) {
        const Bytes prefix(full.begin(), full.begin() + static_cast<long>(size));
        const auto items = APMReceiptPurchaseItems(prefix);
        ASSERT_TRUE(items.has_value());
        for (const auto& item : *items) {
            if (item.productID) {
                EXPECT_LE(item.productID->size(), size);
            }
        }
    }
    EXPECT_EQ(parse(full).size(), 2u);
}

TEST(ReceiptTemplateMatch, BoundsAndLengths) {
    MonitorCapture monitor;
    const Bytes pattern{0x0C, kAPMReceiptWildcard};
    EXPECT_FALSE(APMReceiptTemplateMatch(pattern, Bytes{0x0C, 0x02, 'a'}, 0));      // runs past the end
    EXPECT_FALSE(APMReceiptTemplateMatch(pattern, Bytes{0x0C, 0x00, 'a'}, 0));      // zero length
    EXPECT_FALSE(APMReceiptTemplateMatch(pattern, Bytes{0x0C, 0x01, 'a'}, -1));     // negative offset
    EXPECT_FALSE(APMReceiptTemplateMatch(pattern, Bytes{0x0C, 0x01}, 0));           // template reaches the end
    EXPECT_FALSE(APMReceiptTemplateMatch(Bytes{0x0C}, Bytes{0x0C, 0x01, 'a'}, 0));  // no wildcard
    const Bytes data{0x0C, 0x01, 'a'};
    const auto match = APMReceiptTemplateMatch(pattern, data, 0);
    ASSERT_TRUE(match);
    EXPECT_EQ(std::string(match->begin(), match->end()), "a");

    Bytes longForm{0x0C, 0x81};
    longForm.resize(2 + 0x81, 'x');
    const auto taken = APMReceiptTemplateMatch(pattern, longForm, 0);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->size(), 0x81u);
    EXPECT_EQ(monitor.linesWithCode(39027).size(), 1u);
}

TEST(ReceiptVersion, ComparesTheOriginalVersionAsPlainText) {
    MonitorCapture monitor;
    const auto bytes = receipt({}, "1.2");
    EXPECT_TRUE(APMAppVersionMatchesReceipt(bytes, false, "1.2"));
    EXPECT_FALSE(APMAppVersionMatchesReceipt(bytes, false, "1.2.0"));
    EXPECT_TRUE(APMAppVersionMatchesReceipt(std::nullopt, true, "9"));  // sandbox: nothing to compare
    EXPECT_FALSE(APMAppVersionMatchesReceipt(std::nullopt, false, "1.2"));
    EXPECT_FALSE(APMAppVersionMatchesReceipt(Bytes{}, false, "1.2"));
    EXPECT_FALSE(APMAppVersionMatchesReceipt(Bytes{0x31, 0x00}, false, "1.2"));
    EXPECT_EQ(monitor.linesWithCode(39002).size(), 1u);
    EXPECT_EQ(monitor.linesWithCode(39004).size(), 1u);
    EXPECT_EQ(monitor.linesWithCode(39006).size(), 1u);
}

TEST(ReceiptVersion, ProcessFlagIsFalseWithoutAReceipt) {
    MonitorCapture monitor;
    APMResetAppVersionFlagForTesting();
    EXPECT_FALSE(APMIsAppVersionSameAsOriginalVersion());
    EXPECT_EQ(monitor.linesWithCode(39002).size(), 1u);
    EXPECT_FALSE(APMIsAppVersionSameAsOriginalVersion());
    EXPECT_EQ(monitor.linesWithCode(39002).size(), 1u);  // computed once
}
