#include "VadovaUtilities/RAVOvazuveDarizeveve.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

TEST(ThreadSafeDictionary, SetReadAndRemove) {
    RAVOvazuveDarizeveve<std::string> dictionary;
    EXPECT_EQ(dictionary.objectForKeyedSubscript("a"), std::nullopt);
    dictionary.setObject("1", "a");
    dictionary.setObject("2", "b");
    dictionary.setObject("3", "a");
    EXPECT_EQ(dictionary.objectForKeyedSubscript("a"), "3");
    EXPECT_EQ(dictionary.count(), 2u);

    dictionary.setObject(std::nullopt, "a");  // a missing value removes the key
    EXPECT_EQ(dictionary.objectForKeyedSubscript("a"), std::nullopt);
    dictionary.removeObjectForKey("b");
    dictionary.removeObjectForKey("never there");
    EXPECT_EQ(dictionary.count(), 0u);
}

TEST(ThreadSafeDictionary, ConcurrentWritersLoseNothing) {
    RAVOvazuveDarizeveve<int> dictionary;
    std::vector<std::thread> writers;
    for (int writer = 0; writer < 8; ++writer) {
        writers.emplace_back([&dictionary, writer] {
            for (int i = 0; i < 500; ++i) {
                dictionary.setObject(i, std::to_string(writer) + ":" + std::to_string(i));
                (void)dictionary.objectForKeyedSubscript(std::to_string(writer) + ":0");
            }
        });
    }
    for (auto& thread : writers) thread.join();
    EXPECT_EQ(dictionary.count(), 4000u);
    EXPECT_EQ(dictionary.objectForKeyedSubscript("7:499"), 499);
}

}  // namespace
