#include "access/Secure.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace kv {
namespace {

TEST(PasswordCompare, OnlyAsciiLettersIgnoreCaseAndNothingIsTrimmed) {
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"secret", "SECRET", true},
        {"SeCrEt", "sEcReT", true},
        {"a1_b-z", "A1_B-Z", true},
        {"", "", true},
        {" secret", "secret", false},  // a leading blank must match
        {"secret ", "secret", false},  // so must a trailing one
        {"secret", " SECRET", false},
        {"secre", "secret", false},
        {"{", "[", false},  // differ by 0x20 but are no letters
        {"`", "@", false},
        {"~", "^", false},
        {"\xC3\xA9", "\xC3\x89", false},  // e-acute and E-acute are not folded
        {std::string("a\0b", 3), std::string("A\0B", 3), true},
        {std::string("a\0b", 3), "A", false},
    };
    for (const auto& [typed, expected, match] : cases) {
        EXPECT_EQ(PasswordsMatch(typed, expected), match)
            << "'" << typed << "' vs '" << expected << "'";
        EXPECT_EQ(PasswordsMatch(expected, typed), match);
    }
}

TEST(PasswordCompare, EveryByteMatchesOnlyItselfOrItsAsciiLetterPair) {
    for (int a = 1; a < 256; ++a) {
        for (int b = 1; b < 256; ++b) {
            const bool letters = (a | 0x20) == (b | 0x20) && (a | 0x20) >= 'a' && (a | 0x20) <= 'z';
            const bool want = a == b || letters;
            ASSERT_EQ(PasswordsMatch(std::string(1, static_cast<char>(a)),
                                     std::string(1, static_cast<char>(b))),
                      want)
                << a << " vs " << b;
        }
    }
}

TEST(WipeString, OverwritesTheBufferBeforeEmptying) {
    std::string secret(64, 'S');
    const char* buffer = secret.data();
    WipeString(secret);
    EXPECT_TRUE(secret.empty());
    // The buffer stays allocated after clear(); its old bytes must be gone.
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(buffer[i], '\0') << "byte " << i;

    std::string shortText = "abc";  // kept inside the string object
    const char* inside = shortText.data();
    WipeString(shortText);
    EXPECT_EQ(inside[1], '\0');
    EXPECT_EQ(inside[2], '\0');
}

}  // namespace
}  // namespace kv
