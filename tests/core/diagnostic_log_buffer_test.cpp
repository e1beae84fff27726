#include "core/diagnostic_log_buffer.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace norv {
namespace {

TEST(DiagnosticLogBufferTest, SplitsLinesTheSameHoweverTheBytesAreChunked) {
    DiagnosticLogBuffer whole;
    whole.append("first line\r\n\nsecond \xff line\nno line feed");
    DiagnosticLogBuffer split;
    for (const char* chunk : {"first li", "ne\r\n\nsec", "ond \xff line\nno line", " feed"}) split.append(chunk);
    const QStringList expected{QStringLiteral("first line\r"), QStringLiteral("second \uFFFD line")};
    EXPECT_EQ(whole.lines(), expected);  // the empty line stores nothing, CR stays
    EXPECT_EQ(split.lines(), expected);
    split.finish();
    split.finish();
    EXPECT_EQ(split.lines(), expected + QStringList{QStringLiteral("no line feed")});
}

TEST(DiagnosticLogBufferTest, CapsLinesInBytesAndInUserPerceivedCharacters) {
    DiagnosticLogBuffer buffer;
    buffer.append(QByteArray(10000, 'x'));
    buffer.append("\nnext\n");
    // "e" + combining acute accent: one character, two UTF-16 units.
    QByteArray accented;
    for (int i = 0; i < 2100; ++i) accented += "e\xcc\x81";
    buffer.append(accented + "\n");
    const QStringList lines = buffer.lines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0].size(), DiagnosticLogBuffer::kMaxLineCharacters);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("x [truncated]")));
    EXPECT_EQ(lines[1], QStringLiteral("next"));
    EXPECT_EQ(lines[2].size(), 2 * DiagnosticLogBuffer::kMaxLineCharacters);
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral("e\u0301")));
}

TEST(DiagnosticLogBufferTest, KeepsTheNewestLinesAndLosesNoneToConcurrentWriters) {
    DiagnosticLogBuffer shared(100000);
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&shared, t] {
            for (int i = 0; i < 300; ++i) {
                if (t % 2) {
                    shared.appendLine(QStringLiteral("desktop %1").arg(i));
                } else {
                    shared.append("engine line\n");
                }
                (void)shared.lines();
            }
        });
    }
    for (auto& writer : writers) writer.join();
    EXPECT_EQ(shared.lines().size(), 1200);

    DiagnosticLogBuffer buffer;
    for (int i = 0; i <= 1000; ++i) buffer.append(QByteArray::number(i) + "\n");
    const QStringList lines = buffer.lines();
    ASSERT_EQ(lines.size(), 1000);
    EXPECT_EQ(lines.front(), QStringLiteral("1"));
    EXPECT_EQ(lines.back(), QStringLiteral("1000"));
}

}  // namespace
}  // namespace norv
