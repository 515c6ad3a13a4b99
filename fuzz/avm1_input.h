// How an input of the AVM1 fuzzer becomes a movie, shared by the fuzzer and the seed generator:
// byte 0 chooses the movie's version, the rest is up to three action lists separated by
// kActionListSeparator (bytes no action begins with): the main timeline's first frame, the
// load and enterFrame handler of a clip on the stage, and the clip's own first frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qm::fuzz {

constexpr std::array<uint8_t, 3> kActionListSeparator = {0xFF, 0x00, 0xFF};

inline uint8_t MovieVersion(uint8_t selector) { return uint8_t(4 + selector % 7); }  // 4..10

inline std::vector<std::vector<uint8_t>> SplitActionLists(const uint8_t* data, size_t size) {
    std::vector<std::vector<uint8_t>> lists(1);
    for (size_t i = 0; i < size; ++i) {
        if (lists.size() < 3 && i + kActionListSeparator.size() <= size && data[i] == kActionListSeparator[0] &&
            data[i + 1] == kActionListSeparator[1] && data[i + 2] == kActionListSeparator[2]) {
            lists.emplace_back();
            i += kActionListSeparator.size() - 1;
            continue;
        }
        lists.back().push_back(data[i]);
    }
    lists.resize(3);
    return lists;
}

}  // namespace qm::fuzz
