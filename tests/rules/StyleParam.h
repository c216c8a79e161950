#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "RulesFixture.h"

namespace kv::test {

/// The tests that depend on the key format run in both path styles.
struct StyleCase {
    const char* name;
    bool windows;
};

inline void PrintTo(const StyleCase& c, std::ostream* os) {
    *os << c.name;
}

class StyledRulesTest : public ::testing::TestWithParam<StyleCase> {
protected:
    StyledRulesTest()
        : f(GetParam().windows ? PathStyle::Windows() : PathStyle::Posix(),
            GetParam().windows ? "C:\\" : "/") {}

    /// Full item path of a path written with "/" below the root ("" is the root).
    std::string P(std::string relative) const {
        if (relative.empty())
            return f.tree.Root()->path;
        std::replace(relative.begin(), relative.end(), '/', f.style.Separator());
        return f.style.Join(f.tree.Root()->path, relative);
    }
    /// Protection key of the principal "u_Bob" for such a path.
    std::string K(const std::string& relative) const { return "u_Bob_P_" + P(relative); }
    FakeTree::Node* Add(const std::string& relative) {
        std::string r = relative;
        std::replace(r.begin(), r.end(), '/', f.style.Separator());
        return f.tree.AddPath(r);
    }
    int M(const std::string& relative) { return f.tree.Find(P(relative))->marker; }

    RulesFixture f;
};

inline std::string StyleName(const ::testing::TestParamInfo<StyleCase>& info) {
    return info.param.name;
}

#define KV_BOTH_STYLES(suite)                                                           \
    INSTANTIATE_TEST_SUITE_P(Styles, suite,                                             \
                             ::testing::Values(::kv::test::StyleCase{"Posix", false},   \
                                               ::kv::test::StyleCase{"Windows", true}), \
                             ::kv::test::StyleName)

}  // namespace kv::test
