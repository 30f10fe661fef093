// Progress of a copy or a delete as the console programs report it, and the figures that the
// progress box shows for it.
//
// The front end asks for reports by putting CABRIX_PROGRESS=1 into the child's environment. The
// programs then write, besides everything they write anyway, report lines to standard error, each
// a line of its own, ASCII only:
//   cabrix-progress: start <k> <n> <size>      file k of n begins; size in bytes, or "-" when
//                                              not known in advance (a read)
//   cabrix-progress: bytes <k> <done> <seg>    done bytes of file k have gone, in seg segments
//   cabrix-progress: end <k> ok|failed         file k is over
// A report names a file by its position in the command line's list, never by its name, so no
// name bytes ever reach a report.
#pragma once

#include <QByteArray>
#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <optional>

inline constexpr char kProgressVariable[] = "CABRIX_PROGRESS=1";

struct TProgressReport {
    enum TKind { Start, Bytes, End };
    TKind Kind = Start;
    int File = 0;             // 1-based position in the run's list
    int Count = 0;            // Start: files in the list
    std::int64_t Size = -1;   // Start: the file's size, -1 when not known
    std::int64_t Done = 0;    // Bytes
    std::int64_t Segments = 0; // Bytes
    bool Ok = false;          // End
    bool operator==(const TProgressReport &) const = default;
};

// The report on one line of standard error; nullopt when the line is no report.
std::optional<TProgressReport> ParseProgressReport(const QByteArray &line);

// What has been reported in one run, with the rate over the last few seconds. Times are
// milliseconds on any steady clock.
class TTransferProgress {
public:
    // A run over these files (as the operator sees their names), with their sizes where known
    // in advance (-1 where not).
    void Begin(const QStringList &Names, const QList<std::int64_t> &Sizes, std::int64_t NowMs);
    void Take(const TProgressReport &Report, std::int64_t NowMs);

    int FileNumber() const { return FFile; } // 0 until the first file starts
    // The file the box names: the one under way, the first before any report (the programs take
    // the files in order).
    int FileShown() const { return FFile > 0 ? FFile : (FNames.isEmpty() ? 0 : 1); }
    int FileCount() const { return static_cast<int>(FNames.size()); }
    int FilesEnded() const { return static_cast<int>(FEnded.count(true)); }
    QString FileName() const;
    std::int64_t TotalDone() const;
    // -1 unless the size of every file is known.
    std::int64_t TotalSize() const;
    // Bytes per second over the last few seconds up to NowMs (it falls while nothing moves);
    // nullopt until a second has passed.
    std::optional<double> Rate(std::int64_t NowMs) const;
    // Seconds to go at that rate; nullopt when the total or the rate is not known, or nothing
    // moves.
    std::optional<std::int64_t> SecondsLeft(std::int64_t NowMs) const;

private:
    struct TSample {
        std::int64_t TimeMs;
        std::int64_t Done;
    };
    QStringList FNames;
    QList<std::int64_t> FSizes;
    QList<std::int64_t> FDone; // bytes done of each file
    QList<bool> FEnded;
    int FFile = 0;
    std::deque<TSample> FSamples;
};

// "512 байт", "12,5 Кб", "1,25 Мб" with the locale's decimal separator.
QString BytesText(std::int64_t Bytes, const QLocale &Locale = QLocale());
// "1:05", "1:02:03".
QString DurationText(std::int64_t Seconds);
// The figures line of the progress box: "1,25 Мб из 2,00 Мб  ·  11,3 Кб/с  ·  осталось 1:05",
// each part left out while it is not known.
QString FiguresText(const TTransferProgress &Progress, std::int64_t NowMs,
                    const QLocale &Locale = QLocale());
// The file line: the name, after "Файл k из n: " when the run has several files.
QString FileLineText(const TTransferProgress &Progress);
