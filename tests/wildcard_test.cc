#include "common/wildcard.h"

#include <gtest/gtest.h>

TEST(Wildcard, MatchesLikeTheDirectoryListingDoes) {
    struct Case {
        const char* pattern;
        const char* name;
        bool matches;
    };
    const Case cases[] = {
        {"*.bmp", "logo.bmp", true},   {"*.bmp", "LOGO.BMP", true},
        {"*.bmp", "a.bmpx", false},    {"*.bmp", "bmp", false},
        {"*.bmp", ".bmp", true},       {"*.bmp", "a.b.bmp", true},
        {"*.txt", "a.txt.bak", false}, {"*.*", "noextension", true},
        {"*.*", ".hidden", true},      {"?.tga", "x.tga", true},
        {"?.tga", "xy.tga", false},    {"a*b*c", "aXbYbZc", true},
        {"a*b*c", "aXbYcZ", false},    {"*", "", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(match_wildcard(c.pattern, c.name), c.matches) << c.pattern << " vs " << c.name;
}

TEST(Wildcard, ManyStarsAgainstALongNameStayFast) {
    const std::string name(4000, 'a');
    EXPECT_FALSE(match_wildcard("*a*a*a*a*a*a*a*a*b", name));
}
