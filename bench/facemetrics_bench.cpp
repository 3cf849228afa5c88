// Measures TFaceMetrics lookups over every installed Qt family in the four styles, the
// calls TScreen::FontLineHeight makes at start-up and on each Text-page refresh:
//   listing   building the index (one fontconfig listing)
//   first     first lineHeight() of each family and style, disk cache warm
//   repeat    the same calls again, as a refresh after a size change makes them
// and how many of those calls still need Qt because no metrics were found.
//
//   facemetrics_bench [rounds]     (default 20 rounds for the repeat figure)
#include "FaceMetrics.h"

#include <QElapsedTimer>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    const QStringList families = QFontDatabase::families();
    QTemporaryDir dir;
    const QString cache = dir.filePath("metrics.cache");

    { // fill the disk cache, as an earlier run of the program would have
        const TFaceMetrics warm(cache);
        for (const QString& f : families)
            for (int s = 0; s < 4; ++s)
                (void)warm.lineHeight(f, 16, s & 2, s & 1);
        warm.saveCache();
    }

    const TFaceMetrics index(cache);
    QElapsedTimer t;
    t.start();
    (void)index.stats(); // cheap; the listing happens on the first lookup
    (void)index.fileOf(families.value(0));
    const qint64 listing = t.nsecsElapsed();

    const qint64 calls = qint64(families.size()) * 4;
    int missing = 0;
    t.restart();
    for (const QString& f : families)
        for (int s = 0; s < 4; ++s)
            if (!index.lineHeight(f, 16, s & 2, s & 1)) ++missing;
    const qint64 first = t.nsecsElapsed();

    t.restart();
    long sum = 0;
    for (int r = 0; r < rounds; ++r)
        for (const QString& f : families)
            for (int s = 0; s < 4; ++s)
                sum += index.lineHeight(f, 10 + r, s & 2, s & 1).value_or(0);
    const qint64 repeat = t.nsecsElapsed();

    std::printf("families %lld, calls per pass %lld, without metrics %d (%d families)\n",
                qlonglong(families.size()), qlonglong(calls), missing, index.stats().families);
    std::printf("listing + first fileOf  %8.2f ms\n", double(listing) / 1e6);
    std::printf("first pass              %8.2f ms  %7.0f ns/call\n", double(first) / 1e6,
                double(first) / double(calls));
    std::printf("repeat pass (x%d)       %8.2f ms  %7.0f ns/call  (checksum %ld)\n", rounds,
                double(repeat) / 1e6 / rounds, double(repeat) / double(calls * rounds), sum);
    return 0;
}
