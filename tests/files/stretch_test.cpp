// The buffered line reader scans and copies whole stretches of its buffer;
// whatever the bytes, it must give what the unbuffered reader (one unit per
// system call) gives: the same lines, ending at the same positions.
#include <random>

#include "tests/files/file_fixture.h"

namespace quillgate::testing {

TEST_F(FileTest, BufferedLinesEqualUnbufferedOnes) {
    // Bytes next to the line ends in value, and long lines across refills.
    const std::string rare("\0\t\n\v\f\r\x0e\x1f\x8d\x8a\xc3\xa9 ", 13);
    for (unsigned seed = 0; seed < 6; ++seed) {
        std::mt19937 random(seed);
        std::string bytes;
        while (bytes.size() < 20000) {
            for (std::size_t n = random() % (random() % 8 == 0 ? 9000 : 60); n > 0; --n)
                bytes += random() % 6 == 0 ? rare[random() % rare.size()] : static_cast<char>('a' + random() % 26);
            bytes += rare[random() % 6];
        }
        lay("in.txt", bytes);
        for (int flags : {ENCODING_8BIT, ENCODING_UTF8, ENCODING_8BIT | ignore_line_ends}) {
            std::vector<std::pair<std::string, std::int64_t>> lines[2];
            for (int buffered = 0; buffered < 2; ++buffered) {
                // Opening the slot again closes the file there first.
                ASSERT_NE(open(1, "in.txt", 1, buffered ? 1 : 1 + 4), 0);
                while (file_position(1) < static_cast<std::int64_t>(bytes.size()) && lines[buffered].size() < 20000) {
                    std::string text = line(1, flags);
                    lines[buffered].emplace_back(text, file_position(1));
                }
            }
            EXPECT_EQ(lines[1], lines[0]) << "seed " << seed << ", flags " << flags;
        }
    }
}

} // namespace quillgate::testing
