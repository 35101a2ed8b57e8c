#include "measurement/storage/APMQueryString.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::ElementsAre;
using testing::Pair;

TEST(QueryString, JoinsPairsInOrder) {
    EXPECT_EQ(APMQueryString({{"platform", "macos"}, {"runtime_version", "3"}, {"vaz_version", "121800"}}),
              "platform=macos&runtime_version=3&vaz_version=121800");
    EXPECT_EQ(APMQueryString({}), "");
}

TEST(QueryString, TheEngineUrlsStayByteIdentical) {
    // Identifiers, versions and plain words carry only characters a query allows.
    EXPECT_EQ(APMQueryString({{"sdk_version", "121800"}, {"rdid", "0123ABCD-EF"}, {"id_type", "adid"},
                              {"bundleid", "com.example.Mossbridge"}, {"retry", "0"}, {"gcs", "G1--"}}),
              "sdk_version=121800&rdid=0123ABCD-EF&id_type=adid&bundleid=com.example.Mossbridge&retry=0&gcs=G1--");
    EXPECT_EQ(APMQueryString({{"link", "https://x.example/a?b:c@d;e!f$g'h(i)j*k,l~m_n.o/p"}}),
              "link=https://x.example/a?b:c@d;e!f$g'h(i)j*k,l~m_n.o/p");
}

TEST(QueryString, EscapesTheCharactersThatWouldSplitOrChangeAPair) {
    EXPECT_EQ(APMQueryString({{"a&b", "c=d"}, {"plus", "1+1"}}), "a%26b=c%3Dd&plus=1%2B1");
    EXPECT_EQ(APMQueryString({{"space", "a b"}, {"hash", "#"}, {"percent", "%"}}),
              "space=a%20b&hash=%23&percent=%25");
    EXPECT_EQ(APMQueryString({{"word", "caf\xc3\xa9"}}), "word=caf%C3%A9");
}

TEST(QueryString, ValuesWithSeparatorsReadBackUnchanged) {
    APMQueryItems items = {{"a&b", "c=d"}, {"plus", "1+1"}, {"word", "caf\xc3\xa9 x"}};
    EXPECT_THAT(APMDictionaryWithHttpArgumentsString(APMQueryString(items)),
                ElementsAre(Pair("a&b", "c=d"), Pair("plus", "1+1"), Pair("word", "caf\xc3\xa9 x")));
}

TEST(HttpArguments, ReadsKeysAndValues) {
    EXPECT_THAT(APMDictionaryWithHttpArgumentsString("svtm_debug_enable=1&svtm_preview_key=abc%3D"),
                ElementsAre(Pair("svtm_debug_enable", "1"), Pair("svtm_preview_key", "abc=")));
}

TEST(HttpArguments, ToleratesOddParts) {
    EXPECT_THAT(APMDictionaryWithHttpArgumentsString("flag&&a=1&a=2&=x&bad=%zz&cut=%4"),
                ElementsAre(Pair("", "x"), Pair("a", "2"), Pair("bad", "%zz"), Pair("cut", "%4"), Pair("flag", "")));
    EXPECT_TRUE(APMDictionaryWithHttpArgumentsString("").empty());
}
