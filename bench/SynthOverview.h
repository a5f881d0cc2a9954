#pragma once
// Overview lines of a large synthetic group with 37 posters, as the benchmarks feed them.
#include "Synth.h"
#include "scan/ScanDriver.h"
#include <QByteArray>
#include <string>
#include <vector>

// first, seed: where the lines' numbers start, and which posts they are.
inline std::vector<QByteArray> benchOverviewLines(int total, bool bigPosts = true, int first = 1, uint64_t seed = 3)
{
    synth::Options o;
    o.seed = seed;
    o.bigPosts = bigPosts;   // half 1,000-part posts, the rest smaller posts and single text posts; else 1 to 12 parts
    const synth::Group g = synth::makeGroup("alt.binaries.bench", first, total, o);
    std::vector<QByteArray> lines;
    lines.reserve(g.articles.size());
    for (const synth::Article &a : g.articles) {
        synth::Article b = a;
        b.from = "poster" + std::to_string(a.post % 37) + " <p" + std::to_string(a.post % 37) + "@example.com>";
        lines.push_back(QByteArray::fromStdString(synth::overviewLine(b)) + "\r\n");
    }
    return lines;
}

// One XOVER reply of lines [from, to) crunched as the scan would after its GROUP reply.
inline void feedBurst(vt::ScanDriver &scan, const std::vector<QByteArray> &lines, size_t from, size_t to)
{
    QByteArray b = "224 overview follows\r\n";
    for (size_t k = from; k < to; ++k) b += lines[k];
    b += ".\r\n";
    scan.currentGroupKey = 1;
    scan.groupReplyTaken = true;
    scan.groupLast = qint32(lines.size()) + 10;
    scan.newToFetch = 1 << 30;
    scan.parse_xoverdata(b);
}
