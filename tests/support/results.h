// Several results checked in one assertion that still shows each of them
// when it fails: EXPECT_EQ(results(a, b), results(0, 0)).
#pragma once

#include <vector>

namespace quillgate {

template <class... T>
std::vector<long long> results(T... values) {
    return {static_cast<long long>(values)...};
}

} // namespace quillgate
