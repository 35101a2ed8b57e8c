#include "platform/core/Unicode.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace platform;

// Text samples. The flag is two regional indicators (4 UTF-16 units); the
// family is man, ZWJ, woman, ZWJ, girl (8 units, one composed character).
const std::string kFlagGermany = "\U0001F1E9\U0001F1EA";
const std::string kFlagFrance = "\U0001F1EB\U0001F1F7";
const std::string kFamily = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
const std::string kGrinning = "\U0001F600";
const std::string kEAcute = "e\u0301";  // e + combining acute accent

TEST(UnicodeTrim, RemovesEveryKindOfWhitespaceAndNewlineAtBothEnds) {
    const std::string padded = " \t\n\r\v\f\u00A0\u2028\u1680\u2003\u0085hello \u00A0 world\u3000\u202F\u205F\u2029\r\n";
    EXPECT_EQ(trimWhitespaceAndNewlines(padded), "hello \u00A0 world");
    EXPECT_EQ(trimWhitespaceAndNewlines("\n\u2028 \u00A0\n"), "");
    EXPECT_EQ(trimWhitespaceAndNewlines(""), "");
    EXPECT_EQ(trimWhitespaceAndNewlines(kGrinning + " "), kGrinning);
}

TEST(UnicodeTrim, KeepsInvisibleCharactersThatAreNotWhitespace) {
    // Zero-width space, word joiner and byte-order mark are format characters.
    EXPECT_EQ(trimWhitespaceAndNewlines(" \u200Bx\uFEFF "), "\u200Bx\uFEFF");
    EXPECT_EQ(trimWhitespaceAndNewlines("\u2060 "), "\u2060");
    EXPECT_FALSE(isWhitespaceOrNewline(0x200B));
    EXPECT_TRUE(isWhitespaceOrNewline(0x2029));
}

TEST(UnicodeTrim, KeepsIllFormedBytesInsteadOfDroppingThem) {
    EXPECT_EQ(trimWhitespaceAndNewlines("  \xff\xfe \n"), "\xff\xfe");
    EXPECT_EQ(trimWhitespaceAndNewlines("\xc3 "), "\xc3");  // truncated sequence
}

TEST(UnicodeLength, CountsUtf16UnitsAndCodePoints) {
    EXPECT_EQ(utf16Length(""), 0u);
    EXPECT_EQ(utf16Length("abc"), 3u);
    EXPECT_EQ(utf16Length("\u00E9\u4E2D"), 2u);
    EXPECT_EQ(utf16Length(kGrinning), 2u);
    EXPECT_EQ(utf16Length("\U0001D11E"), 2u);  // musical G clef
    EXPECT_EQ(utf16Length(kFlagGermany), 4u);
    EXPECT_EQ(utf16Length(kFamily), 8u);
    EXPECT_EQ(codePointCount(kFamily), 5u);
    EXPECT_EQ(codePointCount(kEAcute + kGrinning), 3u);
    EXPECT_EQ(codePoints("a" + kGrinning), U"a\U0001F600");
}

TEST(UnicodeLength, IllFormedSequencesCountAsReplacementCharacters) {
    EXPECT_EQ(utf16Length("a\xff" "b"), 3u);
    EXPECT_EQ(codePoints("a\xff"), U"a\uFFFD");
}

TEST(UnicodeComposedCharacters, KeepsFlagsZwjSequencesAndCombiningMarksWhole) {
    const std::string text = kFlagGermany + kFlagFrance + kFamily + kEAcute + "\r\n" + "x";
    const std::vector<std::string> expected{kFlagGermany, kFlagFrance, kFamily, kEAcute, "\r\n", "x"};
    EXPECT_EQ(composedCharacters(text), expected);
    EXPECT_EQ(composedCharacterCount(text), 6u);
    EXPECT_EQ(composedCharacterCount(""), 0u);
    EXPECT_TRUE(composedCharacters("").empty());
    // Hangul syllable spelled as conjoining jamo, and a skin-tone modifier.
    EXPECT_EQ(composedCharacterCount("\u1100\u1161\u11A8"), 1u);
    EXPECT_EQ(composedCharacterCount("\U0001F44D\U0001F3FD"), 1u);
}

TEST(UnicodeComposedCharacters, PrefixNeverSplitsACharacter) {
    const std::string text = kFamily + kEAcute + kFlagGermany;
    EXPECT_EQ(composedCharacterPrefix(text, 0), "");
    EXPECT_EQ(composedCharacterPrefix(text, 1), kFamily);
    EXPECT_EQ(composedCharacterPrefix(text, 2), kFamily + kEAcute);
    EXPECT_EQ(composedCharacterPrefix(text, 3), text);
    EXPECT_EQ(composedCharacterPrefix(text, 99), text);
}

TEST(UnicodeComposedCharacters, IllFormedBytesDoNotBreakIteration) {
    const std::string text = "a\xff" + kEAcute;
    std::string joined;
    for (const auto& c : composedCharacters(text)) joined += c;
    EXPECT_EQ(joined, text);  // every byte kept, in order
    EXPECT_EQ(composedCharacterCount(text), 3u);
}

TEST(UnicodeCase, LowerCasingIsFullAndLocaleIndependent) {
    EXPECT_EQ(toLowerCase("Com.Apple.MUSIC"), "com.apple.music");
    EXPECT_EQ(toLowerCase("\u00C0\u00C9\u00CE\u0416"), "\u00E0\u00E9\u00EE\u0436");
    // Dotted capital I keeps its dot as a combining mark in the root locale.
    EXPECT_EQ(toLowerCase("\u0130"), "i\u0307");
    EXPECT_EQ(toLowerCase("\u0130", "tr_TR"), "i");
    // Final sigma depends on its position in the word.
    EXPECT_EQ(toLowerCase("\u039F\u0394\u039F\u03A3"), "\u03BF\u03B4\u03BF\u03C2");
}

TEST(UnicodeCase, UpperCasingMayChangeTheLength) {
    EXPECT_EQ(toUpperCase("stra\u00DFe"), "STRASSE");
    EXPECT_EQ(toUpperCase("i"), "I");
    EXPECT_EQ(toUpperCase("i", "tr_TR"), "\u0130");
}

TEST(UnicodeCase, CaseInsensitiveCompareFoldsFully) {
    EXPECT_EQ(caseInsensitiveCompare("STRASSE", "stra\u00DFe"), 0);
    EXPECT_TRUE(equalsIgnoringCase("\uFB01le", "FILE"));  // fi ligature
    EXPECT_TRUE(equalsIgnoringCase("\u01C5", "\u01C6"));  // titlecase digraph
    EXPECT_FALSE(equalsIgnoringCase("strasse", "strase"));
    EXPECT_LT(caseInsensitiveCompare("apple", "BANANA"), 0);
    EXPECT_GT(caseInsensitiveCompare("Cherry", "banana"), 0);
    EXPECT_LT(caseInsensitiveCompare("ab", "ABC"), 0);
}

TEST(UnicodeCase, OrdersByUtf16UnitsAsThePlatformDoes) {
    // As UTF-16 units a surrogate pair (D83D DE00) sorts below U+FF5E; by
    // code point U+1F600 would sort above it.
    EXPECT_LT(caseInsensitiveCompare(kGrinning, "\uFF5E"), 0);
}

TEST(UnicodeEncoding, DetectsIllFormedUtf8) {
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("plain ascii"));
    EXPECT_TRUE(isValidUtf8("\u00E9\u4E2D" + kGrinning + "\U0010FFFF"));
    EXPECT_TRUE(isValidUtf8(std::string("a\0b", 3)));
    EXPECT_FALSE(isValidUtf8("\xff"));
    EXPECT_FALSE(isValidUtf8("\x80"));              // lone continuation byte
    EXPECT_FALSE(isValidUtf8("\xc0\x80"));          // overlong NUL
    EXPECT_FALSE(isValidUtf8("\xe0\x80\xaf"));      // overlong slash
    EXPECT_FALSE(isValidUtf8("\xed\xa0\x80"));      // encoded surrogate
    EXPECT_FALSE(isValidUtf8("\xf4\x90\x80\x80"));  // beyond U+10FFFF
    EXPECT_FALSE(isValidUtf8("ok\xe2\x82"));        // truncated at the end
}

TEST(UnicodeEncoding, ConvertsBetweenUtf8AndUtf16Strictly) {
    EXPECT_EQ(utf8ToUtf16("a\u00E9" + kGrinning), std::u16string(u"a\u00E9\U0001F600"));
    EXPECT_EQ(utf16ToUtf8(u"a\u00E9\U0001F600"), "a\u00E9" + kGrinning);
    EXPECT_EQ(utf8ToUtf16(""), std::u16string());
    EXPECT_EQ(utf8ToUtf16("a\xff"), std::nullopt);
    EXPECT_EQ(utf16ToUtf8(std::u16string(1, u'\xD83D')), std::nullopt);           // lead without trail
    EXPECT_EQ(utf16ToUtf8(std::u16string{u'a', u'\xDE00', u'b'}), std::nullopt);  // trail without lead
    const std::string all = kFamily + kFlagFrance + "\U0010FFFF";
    EXPECT_EQ(utf16ToUtf8(*utf8ToUtf16(all)), all);
}

TEST(UnicodeCharacterClasses, UseGeneralCategories) {
    for (char32_t c : {U'a', U'Z', U'\u00E9', U'\u0436', U'\u4E2D', U'\u01C5', U'\U0001D400'})
        EXPECT_TRUE(isLetter(c)) << std::hex << static_cast<unsigned>(c);
    for (char32_t c : {U'1', U'_', U' ', U'\u0301', U'\u00BD', U'\U0001F600'})
        EXPECT_FALSE(isLetter(c)) << std::hex << static_cast<unsigned>(c);
    for (char32_t c : {U'0', U'9', U'\u0663', U'\u0966', U'\uFF15'})
        EXPECT_TRUE(isDecimalDigit(c)) << std::hex << static_cast<unsigned>(c);
    for (char32_t c : {U'a', U'\u00BD', U'\u2163', U'\u00B2'})
        EXPECT_FALSE(isDecimalDigit(c)) << std::hex << static_cast<unsigned>(c);
    EXPECT_TRUE(isAlphanumeric(U'\u0663'));
    EXPECT_TRUE(isAlphanumeric(U'\u00E9'));
    EXPECT_FALSE(isAlphanumeric(U'_'));
    EXPECT_FALSE(isAlphanumeric(U'\u0301'));
}

TEST(UnicodeRegex, BadPatternGivesTheEnginesError) {
    RegexError error;
    EXPECT_FALSE(Regex::compile("(ab", error).has_value());
    EXPECT_TRUE(error);
    EXPECT_EQ(error.name, "U_REGEX_MISMATCHED_PAREN");
    EXPECT_NE(error.message.find("(ab"), std::string::npos);

    EXPECT_FALSE(Regex::compile("[a-", error).has_value());
    EXPECT_TRUE(error);
    EXPECT_FALSE(Regex::compile("a{2,1}", error).has_value());
    EXPECT_TRUE(error);

    ASSERT_TRUE(Regex::compile("a+", error).has_value());
    EXPECT_FALSE(error);  // cleared by a later success
}

TEST(UnicodeRegex, PositionsAreUtf16UnitsOfTheSearchedText) {
    RegexError error;
    const auto regex = Regex::compile("b(\u00E9+)(x)?", error);
    ASSERT_TRUE(regex) << error.message;
    const std::string text = kGrinning + "a" + kFlagGermany + "b\u00E9\u00E9c";
    const auto match = regex->firstMatch(text, error);
    ASSERT_TRUE(match);
    EXPECT_FALSE(error);
    ASSERT_EQ(match->captures.size(), 3u);
    EXPECT_EQ(match->whole().location, 7u);  // 2 + 1 + 4
    EXPECT_EQ(match->whole().length, 3u);
    EXPECT_EQ(match->whole().text, "b\u00E9\u00E9");
    ASSERT_TRUE(match->captures[1]);
    EXPECT_EQ(match->captures[1]->location, 8u);
    EXPECT_EQ(match->captures[1]->text, "\u00E9\u00E9");
    EXPECT_FALSE(match->captures[2]);  // the optional group took no part
}

TEST(UnicodeRegex, FindsOnlyTheFirstMatchAndIsCaseSensitiveByDefault) {
    RegexError error;
    const auto regex = Regex::compile("label\\s*=\\s*\"?([^\";}\\n]+)\"?", error);
    ASSERT_TRUE(regex);
    const auto match = regex->firstMatch("Label = \"9\"; label = \"3\"; label = \"4\"", error);
    ASSERT_TRUE(match);
    EXPECT_EQ(match->captures[1]->text, "3");
    EXPECT_FALSE(regex->firstMatch("LABEL = 2", error));
    EXPECT_FALSE(error);  // no match is not an error

    RegexOptions options;
    options.caseInsensitive = true;
    const auto folded = Regex::compile("stra\u00DFe", error, options);
    ASSERT_TRUE(folded);
    EXPECT_TRUE(folded->firstMatch("Main STRASSE 5", error));
}

TEST(UnicodeRegex, CatastrophicPatternIsStoppedByTheTimeLimit) {
    RegexError error;
    RegexOptions options;
    options.timeLimit = 20;
    const auto regex = Regex::compile("(a+)+$", error, options);
    ASSERT_TRUE(regex);
    const auto start = std::chrono::steady_clock::now();
    const auto match = regex->firstMatch(std::string(64, 'a') + "!", error);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_FALSE(match);
    EXPECT_EQ(error.name, "U_REGEX_TIME_OUT");
    EXPECT_LT(elapsed, 2.0);
    EXPECT_FALSE(regex->replaceAll(std::string(64, 'a') + "!", "", error));
    EXPECT_EQ(error.name, "U_REGEX_TIME_OUT");
}

TEST(UnicodeRegex, DeepBacktrackingIsStoppedByTheStackLimit) {
    RegexError error;
    RegexOptions options;
    options.stackLimitBytes = 4096;
    const auto regex = Regex::compile("(?:a|b)*c", error, options);
    ASSERT_TRUE(regex);
    EXPECT_FALSE(regex->firstMatch(std::string(100000, 'a'), error));
    EXPECT_EQ(error.name, "U_REGEX_STACK_OVERFLOW");
}

TEST(UnicodeRegex, ReplaceAllUsesGroupTemplates) {
    RegexError error;
    const auto runs = Regex::compile("[^a-z0-9]+", error);
    ASSERT_TRUE(runs);
    EXPECT_EQ(runs->replaceAll(toLowerCase("K.CF-Null"), "", error), "kcfnull");
    const auto swap = Regex::compile("(\\w+)=(\\w+)", error);
    ASSERT_TRUE(swap);
    EXPECT_EQ(swap->replaceAll("a=1, b=2", "$2:$1 \\$", error), "1:a $, 2:b $");
    EXPECT_FALSE(swap->replaceAll("a=1", "$9", error));  // no such group
    EXPECT_TRUE(error);
}

TEST(UnicodeRegex, EscapedPatternMatchesTheTextLiterally) {
    const std::string literal = "Safari (Beta) 2.0 [x]{y}^$|?*+\\/-#&~ Window 3";
    RegexError error;
    const auto regex = Regex::compile("^" + Regex::escapedPattern(literal) + "$", error);
    ASSERT_TRUE(regex) << error.message;
    EXPECT_TRUE(regex->firstMatch(literal, error));
    EXPECT_FALSE(regex->firstMatch("Safari (Beta) 2X0 [x]{y}^$|?*+\\/-#&~ Window 3", error));
}

TEST(UnicodeRegex, OneCompiledPatternServesSeveralThreads) {
    RegexError error;
    const auto regex = Regex::compile("(\\d+)$", error);
    ASSERT_TRUE(regex);
    std::vector<std::string> found(6);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < found.size(); ++i) {
        threads.emplace_back([&, i] {
            RegexError local;
            for (int round = 0; round < 200; ++round) {
                const auto match = regex->firstMatch("thread " + std::to_string(i * 1000 + round), local);
                if (match) found[i] = match->captures[1]->text;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (std::size_t i = 0; i < found.size(); ++i) EXPECT_EQ(found[i], std::to_string(i * 1000 + 199));
}

}  // namespace
