// Measures TFaceMetrics lookups over every installed Qt family in the four styles, the
// calls TScreen::FontLineHeight makes at start-up and on each Text-page refresh:
//   listing   building the index (one fontconfig listing)
//   first     first lineHeight() of each family and style, disk cache warm
//   repeat    the same calls again, as a refresh after a size change makes them
// and how many of those calls still need Qt because no metrics were found.
//
//   facemetrics_bench [rounds]     (default 20 rounds for the repeat figure)
//
// Each phase is a function of its own, so instruction counts per phase come from e.g.
//   valgrind --tool=callgrind --toggle-collect='*firstPass*' facemetrics_bench 1
#include "FaceMetrics.h"

#include <QElapsedTimer>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

[[gnu::noinline]] void listing(const TFaceMetrics& index, const QString& family) {
    (void)index.fileOf(family); // the listing happens on the first lookup
}

[[gnu::noinline]] void fillCache(const QString& cache, const QStringList& families) {
    const TFaceMetrics warm(cache);
    for (const QString& f : families)
        for (int s = 0; s < 4; ++s)
            (void)warm.lineHeight(f, 16, s & 2, s & 1);
    warm.saveCache();
}

[[gnu::noinline]] int firstPass(const TFaceMetrics& index, const QStringList& families) {
    int missing = 0;
    for (const QString& f : families)
        for (int s = 0; s < 4; ++s)
            if (!index.lineHeight(f, 16, s & 2, s & 1)) ++missing;
    return missing;
}

[[gnu::noinline]] long repeatPass(const TFaceMetrics& index, const QStringList& families, int px) {
    long sum = 0;
    for (const QString& f : families)
        for (int s = 0; s < 4; ++s)
            sum += index.lineHeight(f, px, s & 2, s & 1).value_or(0);
    return sum;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    const QStringList families = QFontDatabase::families();
    QTemporaryDir dir;
    const QString cache = dir.filePath("metrics.cache");

    fillCache(cache, families); // as an earlier run of the program would have

    const TFaceMetrics index(cache);
    QElapsedTimer t;
    t.start();
    listing(index, families.value(0));
    const qint64 listed = t.nsecsElapsed();

    const qint64 calls = qint64(families.size()) * 4;
    t.restart();
    const int missing = firstPass(index, families);
    const qint64 first = t.nsecsElapsed();

    t.restart();
    long sum = 0;
    for (int r = 0; r < rounds; ++r)
        sum += repeatPass(index, families, 10 + r);
    const qint64 repeat = t.nsecsElapsed();

    std::printf("families %lld, calls per pass %lld, without metrics %d\n", qlonglong(families.size()),
                qlonglong(calls), missing);
    std::printf("listing + first fileOf  %8.2f ms\n", double(listed) / 1e6);
    std::printf("first pass              %8.2f ms  %7.0f ns/call\n", double(first) / 1e6,
                double(first) / double(calls));
    std::printf("repeat pass (x%d)       %8.2f ms  %7.0f ns/call  (checksum %ld)\n", rounds,
                double(repeat) / 1e6 / rounds, double(repeat) / double(calls * rounds), sum);
    return 0;
}
