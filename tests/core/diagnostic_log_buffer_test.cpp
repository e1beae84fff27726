#include "core/diagnostic_log_buffer.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace norv {
namespace {

TEST(DiagnosticLogBufferTest, LinesAreTheSameHoweverTheBytesAreChunked) {
    DiagnosticLogBuffer whole;
    whole.append("first line\r\n\nsecond \xff line\n");
    DiagnosticLogBuffer split;
    split.append("first li");
    split.append("ne\r\n\nsec");
    split.append("ond \xff line\n");
    const QStringList expected{QStringLiteral("first line\r"), QStringLiteral("second \uFFFD line")};
    EXPECT_EQ(whole.lines(), expected);  // the empty line stores nothing, CR stays
    EXPECT_EQ(split.lines(), expected);
}

TEST(DiagnosticLogBufferTest, FinishStoresTheLastUnendedLineOnce) {
    DiagnosticLogBuffer buffer;
    buffer.append("done\nno line feed");
    buffer.finish();
    buffer.finish();
    EXPECT_EQ(buffer.lines(), (QStringList{QStringLiteral("done"), QStringLiteral("no line feed")}));
}

TEST(DiagnosticLogBufferTest, RunawayLineIsCappedAndMarkedAndTheNextLineIsNot) {
    DiagnosticLogBuffer buffer;
    buffer.append(QByteArray(10000, 'x'));
    buffer.append("\nnext\n");
    const QStringList lines = buffer.lines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].size(), DiagnosticLogBuffer::kMaxLineCharacters);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("x [truncated]")));
    EXPECT_EQ(lines[1], QStringLiteral("next"));
}

TEST(DiagnosticLogBufferTest, LinesAreCutAtUserPerceivedCharacters) {
    // "e" + combining acute accent: one character, two UTF-16 units, three UTF-8 bytes.
    QByteArray accented;
    for (int i = 0; i < 2100; ++i) accented += "e\xcc\x81";
    DiagnosticLogBuffer buffer;
    buffer.append(accented + "\n");
    buffer.appendLine(QString(3000, QLatin1Char('d')));
    const QStringList lines = buffer.lines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].size(), 2 * DiagnosticLogBuffer::kMaxLineCharacters);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("e\u0301")));
    EXPECT_EQ(lines[1].size(), DiagnosticLogBuffer::kMaxLineCharacters);
}

TEST(DiagnosticLogBufferTest, KeepsTheNewestLinesUpToTheLimit) {
    DiagnosticLogBuffer buffer;
    for (int i = 0; i <= 1000; ++i) buffer.append(QByteArray::number(i) + "\n");
    const QStringList lines = buffer.lines();
    ASSERT_EQ(lines.size(), 1000);
    EXPECT_EQ(lines.front(), QStringLiteral("1"));
    EXPECT_EQ(lines.back(), QStringLiteral("1000"));
}

TEST(DiagnosticLogBufferTest, ConcurrentWritersLoseNoLine) {
    DiagnosticLogBuffer buffer(100000);
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&buffer, t] {
            for (int i = 0; i < 500; ++i) {
                if (t % 2) {
                    buffer.appendLine(QStringLiteral("desktop %1").arg(i));
                } else {
                    buffer.append("engine line\n");
                }
                (void)buffer.lines();
            }
        });
    }
    for (auto& writer : writers) writer.join();
    EXPECT_EQ(buffer.lines().size(), 2000);
}

}  // namespace
}  // namespace norv
