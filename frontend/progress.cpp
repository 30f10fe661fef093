#include "progress.h"

#include <algorithm>

namespace {

const QByteArray kReportPrefix = QByteArrayLiteral("cabrix-progress: ");
// The window over which the rate is taken, and the least time before it is shown at all.
constexpr std::int64_t kRateWindowMs = 5000;
constexpr std::int64_t kRateLeastMs = 1000;
constexpr int kMaxFiles = 1000000;

// A decimal number of at most 18 digits (so that it fits), nothing else.
std::optional<std::int64_t> Number(const QByteArray &field)
{
    if (field.isEmpty() || field.size() > 18)
        return std::nullopt;
    std::int64_t value = 0;
    for (const char c : field) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<int> Position(const QByteArray &field)
{
    const auto n = Number(field);
    if (!n || *n < 1 || *n > kMaxFiles)
        return std::nullopt;
    return static_cast<int>(*n);
}

} // namespace

std::optional<TProgressReport> ParseProgressReport(const QByteArray &line)
{
    if (!line.startsWith(kReportPrefix))
        return std::nullopt;
    const QList<QByteArray> f = line.mid(kReportPrefix.size()).split(' ');
    TProgressReport r;
    if (f.size() < 2)
        return std::nullopt;
    const auto file = Position(f[1]);
    if (!file)
        return std::nullopt;
    r.File = *file;
    if (f[0] == "start" && f.size() == 4) {
        const auto count = Position(f[2]);
        if (!count || r.File > *count)
            return std::nullopt;
        r.Kind = TProgressReport::Start;
        r.Count = *count;
        if (f[3] != "-") {
            const auto size = Number(f[3]);
            if (!size)
                return std::nullopt;
            r.Size = *size;
        }
        return r;
    }
    if (f[0] == "bytes" && f.size() == 4) {
        const auto done = Number(f[2]);
        const auto segments = Number(f[3]);
        if (!done || !segments)
            return std::nullopt;
        r.Kind = TProgressReport::Bytes;
        r.Done = *done;
        r.Segments = *segments;
        return r;
    }
    if (f[0] == "end" && f.size() == 3 && (f[2] == "ok" || f[2] == "failed")) {
        r.Kind = TProgressReport::End;
        r.Ok = f[2] == "ok";
        return r;
    }
    return std::nullopt;
}

void TTransferProgress::Begin(const QStringList &Names, const QList<std::int64_t> &Sizes,
                              std::int64_t NowMs)
{
    FNames = Names;
    FSizes = Sizes;
    FSizes.resize(FNames.size(), -1);
    FDone = QList<std::int64_t>(FNames.size(), 0);
    FEnded = QList<bool>(FNames.size(), false);
    FFile = 0;
    FSamples.clear();
    FSamples.push_back({NowMs, 0});
}

void TTransferProgress::Take(const TProgressReport &Report, std::int64_t NowMs)
{
    // A report about a file the run does not have is none of this run's.
    if (Report.File < 1 || Report.File > FNames.size())
        return;
    const qsizetype i = Report.File - 1;
    switch (Report.Kind) {
    case TProgressReport::Start:
        FFile = Report.File;
        if (Report.Size >= 0)
            FSizes[i] = Report.Size;
        FDone[i] = 0;
        break;
    case TProgressReport::Bytes:
        FFile = Report.File;
        FDone[i] = Report.Done;
        break;
    case TProgressReport::End:
        FEnded[i] = true;
        // A file that ended well has all its bytes, however many the last report gave.
        if (Report.Ok && FSizes[i] >= 0)
            FDone[i] = FSizes[i];
        break;
    }
    FSamples.push_back({NowMs, TotalDone()});
    // One sample older than the window stays as its base.
    while (FSamples.size() > 2 && FSamples[1].TimeMs <= NowMs - kRateWindowMs)
        FSamples.pop_front();
}

QString TTransferProgress::FileName() const
{
    const int file = FileShown();
    return file >= 1 && file <= FNames.size() ? FNames[file - 1] : QString();
}

std::int64_t TTransferProgress::TotalDone() const
{
    std::int64_t done = 0;
    for (const std::int64_t d : FDone)
        done += d;
    return done;
}

std::int64_t TTransferProgress::TotalSize() const
{
    if (FSizes.isEmpty())
        return -1;
    std::int64_t total = 0;
    for (const std::int64_t s : FSizes) {
        if (s < 0)
            return -1;
        total += s;
    }
    return total;
}

std::optional<double> TTransferProgress::Rate(std::int64_t NowMs) const
{
    if (FSamples.empty())
        return std::nullopt;
    // The base: the newest sample that is at least the window old, else the oldest there is.
    const TSample *base = &FSamples.front();
    for (const TSample &s : FSamples) {
        if (s.TimeMs <= NowMs - kRateWindowMs)
            base = &s;
    }
    const std::int64_t span = NowMs - base->TimeMs;
    if (span < kRateLeastMs)
        return std::nullopt;
    return static_cast<double>(FSamples.back().Done - base->Done) * 1000.0 / static_cast<double>(span);
}

std::optional<std::int64_t> TTransferProgress::SecondsLeft(std::int64_t NowMs) const
{
    const std::int64_t total = TotalSize();
    const auto rate = Rate(NowMs);
    if (total < 0 || !rate || *rate <= 0.0)
        return std::nullopt;
    const std::int64_t left = std::max<std::int64_t>(0, total - TotalDone());
    return static_cast<std::int64_t>(static_cast<double>(left) / *rate + 0.999);
}

QString BytesText(std::int64_t Bytes, const QLocale &Locale)
{
    if (Bytes < 1024)
        return QStringLiteral("%1 байт").arg(Bytes);
    const double kb = static_cast<double>(Bytes) / 1024.0;
    if (kb < 1024.0)
        return Locale.toString(kb, 'f', kb < 100.0 ? 1 : 0) + QStringLiteral(" Кб");
    const double mb = kb / 1024.0;
    return Locale.toString(mb, 'f', mb < 100.0 ? 2 : 1) + QStringLiteral(" Мб");
}

QString DurationText(std::int64_t Seconds)
{
    const std::int64_t h = Seconds / 3600;
    const std::int64_t m = Seconds / 60 % 60;
    const std::int64_t s = Seconds % 60;
    const QString mmss = QStringLiteral("%1:%2").arg(h > 0 ? QString::number(m).rightJustified(2, QLatin1Char('0'))
                                                           : QString::number(m))
                             .arg(s, 2, 10, QLatin1Char('0'));
    return h > 0 ? QString::number(h) + QLatin1Char(':') + mmss : mmss;
}

QString FiguresText(const TTransferProgress &Progress, std::int64_t NowMs, const QLocale &Locale)
{
    if (Progress.FileNumber() == 0)
        return QString();
    QStringList parts;
    const std::int64_t total = Progress.TotalSize();
    QString bytes = BytesText(Progress.TotalDone(), Locale);
    if (total >= 0)
        bytes += QStringLiteral(" из ") + BytesText(total, Locale);
    parts.append(bytes);
    if (const auto rate = Progress.Rate(NowMs))
        parts.append(BytesText(static_cast<std::int64_t>(*rate), Locale) + QStringLiteral("/с"));
    if (const auto left = Progress.SecondsLeft(NowMs))
        parts.append(QStringLiteral("осталось ") + DurationText(*left));
    return parts.join(QStringLiteral("  ·  "));
}

QString FileLineText(const TTransferProgress &Progress)
{
    const QString name = Progress.FileName();
    if (Progress.FileCount() <= 1)
        return name;
    return QStringLiteral("Файл %1 из %2: %3").arg(Progress.FileShown()).arg(Progress.FileCount()).arg(name);
}
