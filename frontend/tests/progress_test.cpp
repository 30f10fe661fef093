// Progress reports as the console programs write them, and what the progress box makes of them.
#include "progress.h"

#include "qt_env.h"

#include <gtest/gtest.h>

namespace {

TProgressReport Start(int file, int count, std::int64_t size)
{
    TProgressReport r;
    r.File = file;
    r.Count = count;
    r.Size = size;
    return r;
}

TProgressReport Bytes(int file, std::int64_t done, std::int64_t segments)
{
    TProgressReport r;
    r.Kind = TProgressReport::Bytes;
    r.File = file;
    r.Done = done;
    r.Segments = segments;
    return r;
}

TProgressReport End(int file, bool ok)
{
    TProgressReport r;
    r.Kind = TProgressReport::End;
    r.File = file;
    r.Ok = ok;
    return r;
}

TEST(ProgressReport, OnlyWellFormedLinesAreReports)
{
    const std::pair<QByteArray, std::optional<TProgressReport>> cases[] = {
        {"cabrix-progress: start 1 3 12000", Start(1, 3, 12000)},
        {"cabrix-progress: start 3 3 -", Start(3, 3, -1)},
        {"cabrix-progress: bytes 2 4500 1", Bytes(2, 4500, 1)},
        {"cabrix-progress: bytes 1 999999999999999999 7", Bytes(1, 999999999999999999, 7)},
        {"cabrix-progress: end 3 ok", End(3, true)},
        {"cabrix-progress: end 1 failed", End(1, false)},
        {"", std::nullopt},
        {"cabrix-progress:", std::nullopt},
        {"cabrix-progress: start 0 3 1", std::nullopt},
        {"cabrix-progress: start 4 3 1", std::nullopt},
        {"cabrix-progress: start 1 3", std::nullopt},
        {"cabrix-progress: bytes 1 -5 1", std::nullopt},
        {"cabrix-progress: bytes 1 +5 1", std::nullopt},
        {"cabrix-progress: bytes 1 12a 1", std::nullopt},
        {"cabrix-progress: bytes 1 1 1 more", std::nullopt},
        {"cabrix-progress: bytes 1 9999999999999999999 1", std::nullopt},
        {"cabrix-progress: end 1 maybe", std::nullopt},
        {"cabrix-progress:  end 1 ok", std::nullopt},
        {" cabrix-progress: end 1 ok", std::nullopt},
        {"Cabrix-progress: end 1 ok", std::nullopt},
        {"\x8F\xAE\xE0\xE2 \xA7\xA0\xAD\xEF\xE2!", std::nullopt}, // an operator message
    };
    for (const auto &[line, report] : cases)
        EXPECT_EQ(ParseProgressReport(line), report) << line.constData();
}

TEST(TransferProgress, TotalsRateAndTimeLeftFromTheReports)
{
    const QLocale c = QLocale::c();
    TTransferProgress p;
    p.Begin({"a.bin", "b.bin"}, {1000, 3000}, 0);
    EXPECT_EQ(FiguresText(p, 0, c), "");
    EXPECT_EQ(FileLineText(p), "Файл 1 из 2: a.bin"); // before any report: the first file
    p.Take(Start(1, 2, 1000), 0);
    p.Take(Bytes(1, 500, 1), 500);
    EXPECT_EQ(FileLineText(p), "Файл 1 из 2: a.bin");
    EXPECT_FALSE(p.Rate(500)); // too soon to tell
    p.Take(Bytes(1, 900, 1), 1000);
    p.Take(End(1, true), 1000); // a file that ended well has all its bytes
    p.Take(Start(2, 2, 3000), 1000);
    p.Take(Bytes(2, 1000, 1), 2000);
    EXPECT_EQ(p.TotalDone(), 2000);
    EXPECT_EQ(p.TotalSize(), 4000);
    EXPECT_EQ(p.FilesEnded(), 1);
    EXPECT_EQ(FileLineText(p), "Файл 2 из 2: b.bin");
    EXPECT_EQ(FiguresText(p, 2000, c), "2.0 Кб из 3.9 Кб  ·  1000 байт/с  ·  осталось 0:02");
    // Nothing moves: the rate falls to nothing, and no time left can be told.
    EXPECT_EQ(FiguresText(p, 9000, c), "2.0 Кб из 3.9 Кб  ·  0 байт/с");
    // A report of a file the run does not have changes nothing.
    p.Take(Bytes(3, 99999, 1), 9000);
    EXPECT_EQ(p.TotalDone(), 2000);

    // A read knows no size in advance: bytes and rate only, unless the program tells the size.
    p.Begin({"x.prg"}, {-1}, 0);
    p.Take(Start(1, 1, -1), 0);
    p.Take(Bytes(1, 3 * 1024 * 1024, 5), 2000);
    EXPECT_EQ(p.TotalSize(), -1);
    EXPECT_EQ(FileLineText(p), "x.prg");
    EXPECT_EQ(FiguresText(p, 2000, c), "3.00 Мб  ·  1.50 Мб/с");
}

TEST(TransferProgress, BytesAndDurationsInWords)
{
    const QLocale c = QLocale::c();
    const std::pair<std::int64_t, QString> bytes[] = {
        {0, "0 байт"}, {1023, "1023 байт"}, {1024, "1.0 Кб"}, {1536, "1.5 Кб"}, {102400, "100 Кб"},
        {1048576, "1.00 Мб"}, {200LL << 20, "200.0 Мб"}};
    for (const auto &[n, text] : bytes)
        EXPECT_EQ(BytesText(n, c), text) << n;
    EXPECT_TRUE(BytesText(1536, QLocale(QLocale::Russian)).startsWith("1,5"));
    const std::pair<std::int64_t, QString> durations[] = {{0, "0:00"}, {65, "1:05"}, {3723, "1:02:03"}};
    for (const auto &[s, text] : durations)
        EXPECT_EQ(DurationText(s), text) << s;
}

} // namespace
