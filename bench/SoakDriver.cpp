// SPDX-License-Identifier: GPL-3.0-or-later

// The soak: the real window loops over twenty short clips for a long while;
// the process's resident memory and open descriptors are sampled from outside.
//   qel_soak --media FOLDER --seconds N --every N [--rss-limit MB] [--out FILE]
// Exits 1 when a target is missed: descriptors grow, resident memory grows by
// the limit (5 MB) or more after the first minute, or an open or close was not
// clean. A short run can only catch gross growth, and is given a looser limit.
// Memory is read every 0.1 s all along; each sample holds the lowest and the
// highest reading since the one before. The lowest is the level the process
// comes back to, the highest its transient peak. Growth is judged on the level:
// a leak raises it, while a single reading lands at random on or off a peak.
// Even the level moves up and down within a band of about 10 MB, so the band's
// top is compared, over a minute at either end.

#include "tests/E2eSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Sample {
    double seconds;
    double rssMb;     // lowest reading across the sample's window
    double rssPeakMb; // highest reading across it
    int descriptors;
    int opens;
};

double ResidentMb(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

int OpenDescriptors(qint64 pid) {
    return static_cast<int>(QDir(QStringLiteral("/proc/%1/fd").arg(pid))
                                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                                .size());
}

int CountLines(const QByteArray& text, const QByteArray& start) {
    int count = 0;
    for (const QByteArray& line : text.split('\n'))
        count += line.startsWith(start);
    return count;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QString media;
    QString out;
    double seconds = 600;
    double every = 30;
    double rssLimit = 5;
    const QStringList arguments = application.arguments();
    for (int i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--media"))
            media = arguments[++i];
        else if (arguments[i] == QLatin1String("--seconds"))
            seconds = arguments[++i].toDouble();
        else if (arguments[i] == QLatin1String("--every"))
            every = arguments[++i].toDouble();
        else if (arguments[i] == QLatin1String("--rss-limit"))
            rssLimit = arguments[++i].toDouble();
        else if (arguments[i] == QLatin1String("--out"))
            out = arguments[++i];
    }
    if (media.isEmpty() || seconds <= 0 || every <= 0) {
        std::fprintf(stderr, "usage: qel_soak --media FOLDER --seconds N --every N [--out FILE]\n");
        return 2;
    }

    QelProcess qel(media);
    const auto window = qel.WaitForWindow();
    if (!window) {
        std::fprintf(stderr, "qel_soak: the window never appeared\n");
        return 1;
    }
    // Every clip selected, loop the selection, play.
    QThread::msleep(500);
    const bool driven = qel.Click(*window, QPoint(435, 110)) &&
                        qel.Key(*window, QStringLiteral("ctrl+a")) &&
                        qel.Key(*window, QStringLiteral("ctrl+alt+p")) &&
                        qel.Key(*window, QStringLiteral("ctrl+alt+x"));
    if (!driven) {
        std::fprintf(stderr, "qel_soak: could not drive the window\n");
        return 1;
    }

    std::vector<Sample> samples;
    QByteArray diagnostics;
    QElapsedTimer clock;
    clock.start();
    for (double next = 0; next <= seconds + 0.001; next += every) {
        Sample sample{next, -1, -1, 0, 0};
        do {
            const double rss = ResidentMb(qel.Pid());
            if (rss < 0) {
                sample.rssMb = -1;
                break;
            }
            sample.rssMb = sample.rssMb < 0 ? rss : std::min(sample.rssMb, rss);
            sample.rssPeakMb = std::max(sample.rssPeakMb, rss);
            diagnostics = qel.StandardError();
            QThread::msleep(100);
        } while (clock.elapsed() < next * 1000);
        sample.descriptors = OpenDescriptors(qel.Pid());
        diagnostics = qel.StandardError();
        sample.opens = CountLines(diagnostics, "qel-diagnostics: opened");
        samples.push_back(sample);
        std::printf("%6.0f s  RSS %6.1f MB (peak %6.1f)  descriptors %3d  files opened %4d\n", next,
                    sample.rssMb, sample.rssPeakMb, sample.descriptors, sample.opens);
        std::fflush(stdout);
        if (sample.rssMb < 0) {
            std::fprintf(stderr, "qel_soak: qel is gone\n%s\n", diagnostics.right(2000).data());
            return 1;
        }
    }
    const bool quit = qel.Key(*window, QStringLiteral("q"));
    const std::optional<int> exitCode = qel.WaitForExit(10000);
    diagnostics = qel.StandardError();

    // After the first minute (half of a shorter run) the process should sit in
    // a steady band. Growth is how far the band's level is higher in the last
    // minute than in the minute after the first, each the highest level there.
    const double warmUp = std::min(60.0, seconds / 2);
    const auto highestIn = [&samples](double from, double to, double Sample::*reading) {
        double highest = -1;
        for (const Sample& sample : samples)
            if (sample.seconds > from && sample.seconds <= to)
                highest = std::max(highest, sample.*reading);
        return highest;
    };
    const double end = samples.back().seconds;
    const double lastFrom = std::max(warmUp, end - 60);
    const double rssGrowth =
        highestIn(lastFrom, end, &Sample::rssMb) - highestIn(warmUp, warmUp + 60, &Sample::rssMb);
    const double peakGrowth = highestIn(lastFrom, end, &Sample::rssPeakMb) -
                              highestIn(warmUp, warmUp + 60, &Sample::rssPeakMb);
    std::size_t settledIndex = 0;
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (samples[i].seconds <= warmUp)
            settledIndex = i;
    const Sample* settled = &samples[settledIndex];
    // A sample may catch a file being opened, so the end is the lower of the last two.
    const int lastDescriptors =
        std::min(samples.back().descriptors, samples[samples.size() - 2].descriptors);
    const int descriptorGrowth = lastDescriptors - settled->descriptors;
    const int opened = CountLines(diagnostics, "qel-diagnostics: opened");
    const int ends = CountLines(diagnostics, "qel-diagnostics: end-of-file");
    const bool cleanExit = quit && exitCode && *exitCode == 0;
    const int expectedFiles = static_cast<int>(seconds / 1.5); // a second each, and its open
    const bool played = opened >= std::min(expectedFiles, 20) && ends + 1 >= opened;
    const bool ok = descriptorGrowth <= 0 && rssGrowth < rssLimit && played && cleanExit;

    QString report;
    report += QStringLiteral(
        "| time (s) | RSS level (MB) | RSS peak (MB) | open descriptors | files opened |\n");
    report += QStringLiteral("|---:|---:|---:|---:|---:|\n");
    for (const Sample& sample : samples)
        report += QStringLiteral("| %1 | %2 | %3 | %4 | %5 |\n")
                      .arg(sample.seconds, 0, 'f', 0)
                      .arg(sample.rssMb, 0, 'f', 1)
                      .arg(sample.rssPeakMb, 0, 'f', 1)
                      .arg(sample.descriptors)
                      .arg(sample.opens);
    report +=
        QStringLiteral("\nLevel and peak are the lowest and highest of the readings taken "
                       "every 0.1 s since the sample before. The highest level in the last minute "
                       "against the highest in the minute after %1 s: %2 MB (target under %8); "
                       "the same for the peaks: %9 MB. Open descriptors from %1 s on grew by "
                       "%3 at most (target 0). %4 files opened, %5 "
                       "played to their end; exit code %6. Result: %7.\n")
            .arg(settled->seconds, 0, 'f', 0)
            .arg(rssGrowth, 0, 'f', 1)
            .arg(descriptorGrowth)
            .arg(opened)
            .arg(ends)
            .arg(exitCode ? QString::number(*exitCode) : QStringLiteral("none (crash or hang)"))
            .arg(ok ? QStringLiteral("met") : QStringLiteral("MISSED"))
            .arg(rssLimit)
            .arg(peakGrowth, 0, 'f', 1);
    std::printf("\n%s", qPrintable(report));
    if (!out.isEmpty()) {
        QFile file(out);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(report.toUtf8());
    }
    return ok ? 0 : 1;
}
