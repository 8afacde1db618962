// Several results checked in one assertion that still shows each of them
// when it fails: EXPECT_EQ((results{a, b}), (results{0, 0})). The braces
// also make the calls run in the order written.
#pragma once

#include <vector>

namespace quillgate {

using results = std::vector<long long>;

} // namespace quillgate
