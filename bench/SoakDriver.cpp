// The soak: the real window loops over twenty short clips for a long while;
// the process's resident memory and open descriptors are sampled from outside.
//   qel_soak --media FOLDER --seconds N --every N [--rss-limit MB] [--out FILE]
// Exits 1 when a target is missed: descriptors grow, resident memory grows by
// the limit (5 MB) or more after the first minute, or an open or close was not
// clean. A short run can only catch gross growth, and is given a looser limit.

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
    double rssMb;
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
        while (clock.elapsed() < next * 1000) {
            diagnostics = qel.StandardError();
            QThread::msleep(50);
        }
        diagnostics = qel.StandardError();
        samples.push_back({next, ResidentMb(qel.Pid()), OpenDescriptors(qel.Pid()),
                           CountLines(diagnostics, "qel-diagnostics: opened")});
        std::printf("%6.0f s  RSS %6.1f MB  descriptors %3d  files opened %4d\n", next,
                    samples.back().rssMb, samples.back().descriptors, samples.back().opens);
        std::fflush(stdout);
        if (samples.back().rssMb < 0) {
            std::fprintf(stderr, "qel_soak: qel is gone\n%s\n", diagnostics.right(2000).data());
            return 1;
        }
    }
    const bool quit = qel.Key(*window, QStringLiteral("q"));
    const std::optional<int> exitCode = qel.WaitForExit(10000);
    diagnostics = qel.StandardError();

    // From the first minute on (the middle sample, in a run of a minute or less).
    // A sample may catch a file being opened, so the end is the lower of the last two.
    std::size_t settledIndex = 0;
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (samples[i].seconds <= 60)
            settledIndex = i;
    if (settledIndex + 1 >= samples.size())
        settledIndex = samples.size() / 2;
    const Sample* settled = &samples[settledIndex];
    double rssGrowth = 0;
    for (std::size_t i = settledIndex; i < samples.size(); ++i)
        rssGrowth = std::max(rssGrowth, samples[i].rssMb - settled->rssMb);
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
    report += QStringLiteral("| time (s) | RSS (MB) | open descriptors | files opened |\n");
    report += QStringLiteral("|---:|---:|---:|---:|\n");
    for (const Sample& sample : samples)
        report += QStringLiteral("| %1 | %2 | %3 | %4 |\n")
                      .arg(sample.seconds, 0, 'f', 0)
                      .arg(sample.rssMb, 0, 'f', 1)
                      .arg(sample.descriptors)
                      .arg(sample.opens);
    report +=
        QStringLiteral("\nFrom %1 s on: RSS grew %2 MB at most (target under %8), open "
                       "descriptors grew by %3 at most (target 0). %4 files opened, %5 "
                       "played to their end; exit code %6. Result: %7.\n")
            .arg(settled->seconds, 0, 'f', 0)
            .arg(rssGrowth, 0, 'f', 1)
            .arg(descriptorGrowth)
            .arg(opened)
            .arg(ends)
            .arg(exitCode ? QString::number(*exitCode) : QStringLiteral("none (crash or hang)"))
            .arg(ok ? QStringLiteral("met") : QStringLiteral("MISSED"))
            .arg(rssLimit);
    std::printf("\n%s", qPrintable(report));
    if (!out.isEmpty()) {
        QFile file(out);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(report.toUtf8());
    }
    return ok ? 0 : 1;
}
