#include "HeaderStore.h"
#include "core/Text.h"
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vt {

int SumHstr(const QByteArray &text)
{
    const QByteArray t = trimBlanks(text);
    if (t.isEmpty()) return 0;
    const qsizetype b = t.indexOf(' ');
    if (b >= 0) return b + 1 < t.size() ? (unsigned char)t[b + 1] : 0;
    return (unsigned char)t[0];
}

int getHashInd(const QByteArray &name, const QByteArray &poster)
{
    return (SumHstr(name) * 257 + SumHstr(poster) * 32) % 431;
}

// Eight bytes a step: the key is taken once per header filed.
static quint64 hashWords(const char *p, size_t n, quint64 h)
{
    constexpr quint64 k = 0x9E3779B97F4A7C15ull;
    h ^= n * k;
    for (; n >= 8; p += 8, n -= 8) {
        quint64 w;
        memcpy(&w, p, 8);
        h = (h ^ w) * k;
        h ^= h >> 31;
    }
    if (n) {
        quint64 w = 0;
        memcpy(&w, p, n);
        h = (h ^ w) * k;
        h ^= h >> 31;
    }
    return h;
}

// 32 bits: an index entry is 8 bytes. Keys that collide only cost a comparison with the
// stored item, and the later of two such items goes where later items of one key go.
static quint32 keyOf(const QByteArray &name, const QByteArray &poster)
{
    const quint64 h = hashWords(poster.constData(), size_t(poster.size()), hashWords(name.constData(), size_t(name.size()), 0x51ED270Bu));
    return quint32(((h ^ (h >> 29)) * 0xBF58476D1CE4E5B9ull) >> 32);
}

// For items with many parts: positions of parts in two flat open-addressing tables, one
// keyed by article number and one by the hash of the tail, so that the duplicate test
// stays constant time per header without a heap node per part. Sized for the count the
// subject declares, at most three quarters full, and not a power of two: 12 bytes a part.
struct HeaderStore::PartIndex {
    std::vector<quint32> numbers, tails;   // part position + 1; 0 = empty
    static size_t slotOf(quint32 key, size_t n) { return size_t((quint64(key * 2654435761u) * n) >> 32); }
};

static quint32 tailHash(const QByteArray &t) { return quint32(hashWords(t.constData(), size_t(t.size()), 0)); }

static constexpr size_t kIndexFrom = 24;
// Below these the store is small enough that warming its memory ahead buys nothing.
static constexpr size_t kWarmIndexFrom = 1 << 16;
static constexpr qint64 kWarmHeapFrom = 200000;

HeaderStore::HeaderStore() { clear(); }
HeaderStore::~HeaderStore() = default;

void HeaderStore::clear()
{
    ++m_generation;
    m_items.reset(1);
    m_touched.clear();
    m_partIndex.reset(1);
    m_itemCount = 0;
    m_capacity = 0;
    m_totalParts = 0;
    freeSlotCount = 0;
    clearIndex();
    m_posters.clear();
    m_arena.clear();
    m_arenaLeft = 0;
    m_arenaAt = nullptr;
    m_lastTexts = PartRecord();
}

char *HeaderStore::alloc(size_t n)
{
    if (n > m_arenaLeft) {
        // Not zeroed: every byte is written before it is read. Past the first chunk the
        // next one is taken ahead and its pages warmed on another thread.
        constexpr size_t kChunk = 1 << 20;
        std::unique_ptr<char[]> chunk;
        if (n <= kChunk && m_arenaAhead) chunk = std::move(m_arenaAhead);
        else chunk.reset(new char[std::max(n, kChunk)]);
        m_arenaAt = chunk.get();
        m_arenaLeft = std::max(n, kChunk);
        m_arena.push_back(std::move(chunk));
        if (m_arena.size() >= 2 && !m_arenaAhead) {
            m_arenaAhead.reset(new char[kChunk]);
            warmPages(m_arenaAhead.get(), kChunk);
        }
    }
    char *at = m_arenaAt;
    // A part keeps its group key in the address's top byte.
    if (quint64(quintptr(at + n)) >> 56) qFatal("header store: an address above 2^56");
    m_arenaAt += n;
    m_arenaLeft -= n;
    return at;
}

// Lengths as 7 bits a byte, low first: one byte each for the usual texts.
static char *putLength(char *at, size_t n)
{
    do {
        *at++ = char((n & 0x7F) | (n >= 0x80 ? 0x80 : 0));
        n >>= 7;
    } while (n);
    return at;
}

static const char *takeLength(const char *at, size_t *n)
{
    size_t v = 0;
    for (int shift = 0;; shift += 7) {
        const unsigned char b = (unsigned char)*at++;
        v |= size_t(b & 0x7F) << shift;
        if (!(b & 0x80)) break;
    }
    *n = v;
    return at;
}

static size_t lengthBytes(size_t n)
{
    size_t k = 1;
    while (n >= 0x80) n >>= 7, ++k;
    return k;
}

// A part's block: (tail length << 1 | framed), the length of the id's own middle, then
// when framed the address of the frame block, then the tail and the middle. A frame block:
// the lengths of the id's start and end, then both.
namespace {
struct Texts {
    QByteArrayView tail, middle, start, end;
};
}

static Texts readTexts(const char *at)
{
    Texts t;
    if (!at) return t;
    size_t tail = 0, mid = 0;
    at = takeLength(takeLength(at, &tail), &mid);
    const char *frame = nullptr;
    if (tail & 1) {
        memcpy(&frame, at, sizeof frame);
        at += sizeof frame;
    }
    tail >>= 1;
    t.tail = QByteArrayView(at, qsizetype(tail));
    t.middle = QByteArrayView(at + tail, qsizetype(mid));
    if (frame) {
        size_t s = 0, e = 0;
        frame = takeLength(takeLength(frame, &s), &e);
        t.start = QByteArrayView(frame, qsizetype(s));
        t.end = QByteArrayView(frame + s, qsizetype(e));
    }
    return t;
}

QByteArray PartRecord::subjectTail() const
{
    const Texts t = readTexts(texts());
    return QByteArray::fromRawData(t.tail.data(), t.tail.size());
}

QByteArray PartRecord::messageId() const
{
    const Texts t = readTexts(texts());
    if (t.start.isEmpty() && t.end.isEmpty()) return QByteArray::fromRawData(t.middle.data(), t.middle.size());
    QByteArray id;
    id.reserve(t.start.size() + t.middle.size() + t.end.size());
    id.append(t.start).append(t.middle).append(t.end);
    return id;
}

PartRecord::Views PartRecord::views() const
{
    const Texts t = readTexts(texts());
    return Views{t.tail, t.start, t.middle, t.end};
}

void HeaderStore::setTexts(PartRecord &p, QByteArrayView tail, QByteArrayView messageId, const PartRecord *near)
{
    if (tail.isEmpty() && messageId.isEmpty()) {
        p.setTextsAt(nullptr);
        return;
    }
    // The frame: the one of the part before when the id fits it and a new one would not
    // keep much more of it, else a new one when this id and the one before share enough to
    // pay for it. (A frame taken on too short would otherwise be kept by every part after.)
    const char *frame = nullptr;
    qsizetype start = 0, end = 0;
    // Without a part before it in its item, the part filed last: posts of one poster
    // share their ids' ends, and single-part posts are most of a busy group.
    if (!near) near = &m_lastTexts;
    if (near->texts() && !messageId.isEmpty()) {
        const Texts n = readTexts(near->texts());
        const qsizetype framed = n.start.size() + n.end.size();
        const bool fits = framed && messageId.size() >= framed && messageId.startsWith(n.start) && messageId.endsWith(n.end);
        // What this id shares with the whole id before it, at its start and at its end. For
        // an id in the frame, what its middle shares with the middle before is enough.
        char buf[256];
        QByteArrayView before = n.middle, id = messageId;
        qsizetype s = 0, e = 0;
        if (fits) {
            id = messageId.sliced(n.start.size(), messageId.size() - framed);
            s = n.start.size();
            e = n.end.size();
        } else if (framed) {
            const qsizetype whole = framed + n.middle.size();
            if (whole > qsizetype(sizeof buf)) {
                before = {};
            } else {
                memcpy(buf, n.start.data(), size_t(n.start.size()));
                memcpy(buf + n.start.size(), n.middle.data(), size_t(n.middle.size()));
                memcpy(buf + n.start.size() + n.middle.size(), n.end.data(), size_t(n.end.size()));
                before = QByteArrayView(buf, whole);
            }
        }
        const char *b = before.data(), *m = id.data();
        const qsizetype bn = before.size(), mn = id.size();
        const qsizetype most = std::min(bn, mn);
        qsizetype cs = 0, ce = 0;
        while (cs < most && b[cs] == m[cs]) ++cs;
        while (ce < most - cs && b[bn - 1 - ce] == m[mn - 1 - ce]) ++ce;
        s += cs;
        e += ce;
        if (fits && s + e < framed + 4) {
            const char *block = near->texts();
            size_t skip = 0;
            block = takeLength(takeLength(block, &skip), &skip);
            memcpy(&frame, block, sizeof frame);
            start = n.start.size();
            end = n.end.size();
        } else if (s + e >= 12) {
            char *f = alloc(lengthBytes(size_t(s)) + lengthBytes(size_t(e)) + size_t(s + e));
            frame = f;
            f = putLength(putLength(f, size_t(s)), size_t(e));
            memcpy(f, messageId.data(), size_t(s));
            memcpy(f + s, messageId.data() + messageId.size() - e, size_t(e));
            start = s;
            end = e;
        }
    }
    const size_t t = size_t(tail.size()), m = size_t(messageId.size() - start - end);
    char *at = alloc(lengthBytes(t << 1 | 1) + lengthBytes(m) + (frame ? sizeof frame : 0) + t + m);
    p.setTextsAt(at);
    at = putLength(putLength(at, t << 1 | (frame ? 1 : 0)), m);
    if (frame) {
        memcpy(at, &frame, sizeof frame);
        at += sizeof frame;
    }
    copySmall(at, tail.data(), t);
    copySmall(at + t, messageId.data() + start, m);
    m_lastTexts.setTextsAt(p.texts());
}

void HeaderStore::clearIndex()
{
    m_firsts.reset(1024);
    m_oldFirsts.reset(0);
    m_moved = 0;
    m_firstsUsed = 0;
    m_more.clear();
}

void HeaderStore::growTo(int count)
{
    // A large store's small blocks (parts, subjects) come from the main heap: keep it
    // grown and warmed ahead of them.
    if ((count & 255) == 0 && m_totalParts >= kWarmHeapFrom) warmHeapAhead();
    if (count <= m_capacity) return;
    while (m_capacity < count) m_capacity += 1000;
    m_items.resize(size_t(m_capacity) + 1);
    m_partIndex.resize(size_t(m_capacity) + 1);
}

int HeaderStore::appendLoadedItem(HeaderItem it)
{
    ++m_itemCount;
    growTo(m_itemCount);
    m_totalParts += qint64(it.parts.size());
    it.use = ++m_nextUse;
    it.poster = poster(it.poster);
    const bool touched = it.displayRefresh;
    it.displayRefresh = false;
    m_items[size_t(m_itemCount)] = std::move(it);
    if (touched) touch(m_itemCount);
    m_partIndex[size_t(m_itemCount)].reset();
    return m_itemCount;
}

// The first item of a key lies in a flat table (no heap node per item); later items of the
// same key, which only imports and reused slots make, in a map after it, in their order.
size_t HeaderStore::homeSlot(const IndexTable &table, quint32 key)
{
    return size_t((quint64(key) * 0x9E3779B97F4A7C15ull) >> 32) & (table.size() - 1);
}

size_t HeaderStore::firstSlot(const IndexTable &table, quint32 key)
{
    const size_t mask = table.size() - 1;
    size_t i = homeSlot(table, key);
    while (table[i].item && table[i].key != key) i = (i + 1) & mask;
    return i;
}

// A full table doubles a little at a time: a group of millions of posts would otherwise
// stop the event loop for a whole rehash. Until every entry has moved, a key is looked up
// in the new table, then in the old one (its entries stay where they were until then).
const HeaderStore::IndexEntry *HeaderStore::firstOf(quint32 key) const
{
    const IndexEntry &e = m_firsts[firstSlot(m_firsts, key)];
    if (e.item || m_oldFirsts.empty()) return &e;
    return &m_oldFirsts[firstSlot(m_oldFirsts, key)];
}

// Sixteen old slots a new key: the move ends long before the new table is three quarters
// full (that takes three quarters of the old table's size in new keys), and a slice that
// makes a few hundred new items moves a few thousand entries, not a whole table.
void HeaderStore::moveSomeFirsts()
{
    const size_t end = std::min(m_oldFirsts.size(), m_moved + 16);
    for (; m_moved < end; ++m_moved)
        if (const IndexEntry &e = m_oldFirsts[m_moved]; e.item) {
            m_firsts.touchForWrite(homeSlot(m_firsts, e.key));
            m_firsts[firstSlot(m_firsts, e.key)] = e;
        }
    if (m_moved == m_oldFirsts.size()) {
        m_oldFirsts.reset(0);
        m_moved = 0;
    }
}

void HeaderStore::AddHash(const QByteArray &name, const QByteArray &poster, int index)
{
    const quint32 key = keyOf(name, poster);
    if (!m_oldFirsts.empty()) moveSomeFirsts();
    m_firsts.touchForWrite(homeSlot(m_firsts, key));
    const IndexEntry *first = firstOf(key);
    if (!first->item) {
        m_firsts[firstSlot(m_firsts, key)] = IndexEntry{key, index};
        if (++m_firstsUsed * 4 > m_firsts.size() * 3 && m_oldFirsts.empty()) {
            m_oldFirsts.swap(m_firsts);
            m_firsts.reset(m_oldFirsts.size() * 2);
            // Written slot by slot from here on: on another thread first.
            if (m_firsts.size() >= kWarmIndexFrom) warmPages(&m_firsts[0], m_firsts.size() * sizeof(IndexEntry));
            m_moved = 0;
            moveSomeFirsts();
        }
        return;
    }
    if (first->item == index) return;
    std::vector<int> &more = m_more[key];
    if (std::find(more.begin(), more.end(), index) == more.end()) more.push_back(index);
}

int HeaderStore::FindHash(const QByteArray &name, const QByteArray &poster) const
{
    const quint32 key = keyOf(name, poster);
    auto matches = [&](int e) {
        if (e < 1 || e > m_itemCount) return false;
        const HeaderItem &h = m_items[size_t(e)];
        return h.subject == name && h.poster == poster;
    };
    // Looked up just before it is filed: the same page is written next.
    m_firsts.touchForWrite(homeSlot(m_firsts, key));
    const IndexEntry &first = *firstOf(key);
    if (!first.item) return -1;
    if (matches(first.item)) return first.item;
    if (m_more.empty()) return -1;
    const auto it = m_more.find(key);
    if (it == m_more.end()) return -1;
    for (int e : it->second)
        if (matches(e)) return e;
    return -1;
}

QByteArray HeaderStore::poster(QByteArrayView text)
{
    // Posters repeat across a group's posts: one copy each, shared by the items.
    auto it = m_posters.find(text);
    if (it == m_posters.end()) it = m_posters.insert(QByteArray(text.data(), text.size())).first;
    return *it;
}

int HeaderStore::FindFreeItemSlot() const
{
    for (int i = 1; i <= m_itemCount; ++i)
        // A slot still in the batch is never handed to another post: the batch would fetch it.
        if (m_items[size_t(i)].deleted && m_items[size_t(i)].reusable && !m_items[size_t(i)].inBatch) return i;
    return -1;
}

qint32 HeaderStore::ItemByteTotal(int i) const
{
    qint32 sum = 0;
    for (const PartRecord &p : m_items[size_t(i)].parts) sum += p.byteCount;
    return sum;
}

ItemState HeaderStore::itemState(int i) const
{
    const HeaderItem &it = m_items[size_t(i)];
    const qint64 P = qint64(it.parts.size());
    const qint64 N = it.declaredTotal;
    ItemState st;
    if (P == N) {
        st = ItemState::Complete;
        if (N > 1 && it.zeroCheckedAt == P) {
            if (it.zeroPart) st = ItemState::Incomplete;
        } else if (N > 1) {
            // A part zero counted among the parts: "(0/N", "(00/0N" or "(000/00N" in a tail.
            // Built on the stack, and kept for the item until its parts change: the list
            // asks this of every item it shows, and a post may have thousands of parts.
            char digits[8];
            const int nd = snprintf(digits, sizeof digits, "%lld", (long long)N);
            char pats[3][24];
            size_t lens[3];
            for (int k = 0; k < 3; ++k) {
                char *w = pats[k];
                *w++ = '(';
                for (int z = 0; z <= k; ++z) *w++ = '0';
                *w++ = '/';
                for (int pad = nd; pad < k + 1; ++pad) *w++ = '0';
                memcpy(w, digits, size_t(nd));
                lens[k] = size_t(w + nd - pats[k]);
            }
            for (const PartRecord &p : it.parts) {
                const QByteArrayView t = p.views().tail;
                if (t.isEmpty()) continue;
                for (int k = 0; k < 3 && st == ItemState::Complete; ++k)
                    if (memmem(t.data(), size_t(t.size()), pats[k], lens[k])) st = ItemState::Incomplete;
                if (st != ItemState::Complete) break;
            }
            it.zeroCheckedAt = qint32(P);
            it.zeroPart = st == ItemState::Incomplete;
        }
    } else if (P == N + 1) {
        st = ItemState::Complete;
    } else if (P > N + 1) {
        st = ItemState::Unknown;
    } else {
        st = ItemState::Incomplete;
    }
    if (N == 0 && P == 1 && ItemByteTotal(i) < 10000) {
        const QByteArray ext = it.subject.right(4).toUpper();
        if (ext != ".NFO" && ext != ".DIZ" && ext != ".ZIP") st = ItemState::Text;
    }
    if (it.inBatch) st = ItemState::InBatch;
    return st;
}

void HeaderStore::indexPart(int item, size_t j)
{
    HeaderItem &it = m_items[size_t(item)];
    auto &idx = m_partIndex[size_t(item)];
    if (!idx && it.parts.size() < kIndexFrom) return;
    if (!idx) idx = std::make_unique<PartIndex>();
    auto put = [&](std::vector<quint32> &t, quint32 key, size_t pos) {
        const size_t n = t.size();
        size_t i = PartIndex::slotOf(key, n);
        while (t[i]) i = i + 1 == n ? 0 : i + 1;
        t[i] = quint32(pos + 1);
    };
    const size_t parts = it.parts.size();
    if (parts * 4 > idx->numbers.size() * 3) {
        // (Re)build for what the subject declares, or twice what is here when more came;
        // a declared count far beyond what came is not believed all at once.
        const size_t declared = it.declaredTotal > 0 ? size_t(it.declaredTotal) + 1 : 0;
        const size_t expect = declared >= parts ? std::min(declared, parts * 8) : parts * 2;
        const size_t n = expect * 3 / 2 + 8;
        idx->numbers.assign(n, 0);
        idx->tails.assign(n, 0);
        for (size_t k = 0; k < parts; ++k) {
            put(idx->numbers, quint32(it.parts[k].articleNumber), k);
            put(idx->tails, tailHash(it.parts[k].subjectTail()), k);
        }
        return;
    }
    put(idx->numbers, quint32(it.parts[j].articleNumber), j);
    put(idx->tails, tailHash(it.parts[j].subjectTail()), j);
}

bool HeaderStore::isDuplicate(int item, const QByteArray &S, qint32 articleNumber, quint8 groupKey)
{
    const HeaderItem &it = m_items[size_t(item)];
    const bool longName = it.subject.size() > 18;
    const qsizetype plen = it.subject.size() > 13 ? it.subject.size() - 13 : 0;
    // prefix + tail == S holds only for a tail equal to what follows the prefix in S.
    const bool sHasPrefix = longName && S.size() >= plen && memcmp(S.constData(), it.subject.constData(), size_t(plen)) == 0;
    auto sameSubjectIsDup = [&](const PartRecord &p) {
        if (p.groupKey() == groupKey) return true;
        return S.contains('/');
    };
    if (const auto &idx = m_partIndex[size_t(item)]) {
        const size_t n = idx->numbers.size();
        for (size_t i = PartIndex::slotOf(quint32(articleNumber), n); idx->numbers[i]; i = i + 1 == n ? 0 : i + 1)
            if (it.parts[idx->numbers[i] - 1].articleNumber == articleNumber) return true;
        if (!sHasPrefix) return false;
        const char *tail = S.constData() + plen;
        const qsizetype tlen = S.size() - plen;
        const quint32 h = quint32(hashWords(tail, size_t(tlen), 0));
        for (size_t i = PartIndex::slotOf(h, n); idx->tails[i]; i = i + 1 == n ? 0 : i + 1) {
            const PartRecord &p = it.parts[idx->tails[i] - 1];
            const QByteArray t = p.subjectTail();
            if (t.size() == tlen && memcmp(t.constData(), tail, size_t(tlen)) == 0
                && sameSubjectIsDup(p))
                return true;
        }
        return false;
    }
    for (const PartRecord &p : it.parts) {
        if (p.articleNumber == articleNumber) return true;
        if (!sHasPrefix) continue;
        const QByteArray t = p.subjectTail();
        if (t.size() == S.size() - plen && memcmp(t.constData(), S.constData() + plen, size_t(t.size())) == 0 && sameSubjectIsDup(p))
            return true;
    }
    return false;
}

void HeaderStore::maketree(const QByteArray &rawName, const QByteArray &S, qint32 articleNumber, const QByteArray &T,
                           const QByteArray &byteCountText, quint8 groupKey, const QByteArray &poster,
                           const QByteArray &dateText, const QByteArray &messageId)
{
    const QByteArray name = trimBlanks(rawName);
    int found = 0;
    if (m_itemCount > 0) {
        const int h = FindHash(name, poster);
        found = h > 0 ? h : 0;
    }
    if (found && isDuplicate(found, S, articleNumber, groupKey)) return;

    PartRecord part;
    part.articleNumber = articleNumber;
    part.setGroupKey(groupKey);

    int slot = found;
    if (!found) {
        slot = 0;
        if (freeSlotCount >= 1) {
            slot = FindFreeItemSlot();
            if (slot == -1) slot = 0;
            else --freeSlotCount;
        }
        if (!slot) slot = ++m_itemCount;
        growTo(m_itemCount);
        HeaderItem &it = m_items[size_t(slot)];
        m_totalParts -= qint64(it.parts.size());
        it.subject = QByteArray(name.constData(), name.size());
        it.poster = this->poster(poster);
        it.postDate = ParseArticleDate(dateText);
        it.declaredTotal = T.isEmpty() ? 0 : qint16(std::clamp<qint64>(leadingInt(T), -32768, 32767));
        touch(slot);
        it.isNew = true;
        it.deleted = false;
        it.reusable = false;
        it.parts.clear();
        it.zeroCheckedAt = -1;
        it.onDisk = false;
        it.use = ++m_nextUse;
        m_partIndex[size_t(slot)].reset();
        part.byteCount = qint32(leadingInt(byteCountText));
    } else {
        HeaderItem &it = m_items[size_t(slot)];
        touch(slot);
        it.isNew = true;
        // A byte count that is not a number is an error here; the part keeps 0.
        bool ok = false;
        const QByteArray bc = trimBlanks(byteCountText);
        part.byteCount = bc.toInt(&ok);
        if (!ok) {
            part.byteCount = 0;
            if (log) log(QStringLiteral("maketree: 13  Type mismatch"));
        }
    }
    HeaderItem &it = m_items[size_t(slot)];
    const qsizetype plen = it.subject.size() > 13 ? it.subject.size() - 13 : 0;
    setTexts(part, (it.subject.size() > 13 && S.size() > plen) ? QByteArrayView(S.constData() + plen, S.size() - plen) : QByteArrayView(S),
             messageId, it.parts.empty() ? nullptr : &it.parts.back());
    if (it.parts.size() == it.parts.capacity()) {
        // Doubling, but never past the count the subject declares while below it: a whole
        // post's parts fill their block exactly. The first block holds at most 64, so
        // that posts declaring thousands of parts and bringing one cost what they bring.
        const size_t declared = it.declaredTotal > 0 ? size_t(it.declaredTotal) : 1;
        size_t next = it.parts.empty() ? std::min<size_t>(declared, 64) : it.parts.size() * 2;
        if (declared > it.parts.size() && declared < next) next = declared;
        it.parts.reserve(next);
    }
    it.parts.push_back(part);
    ++m_totalParts;
    indexPart(slot, it.parts.size() - 1);
    if (!found) AddHash(name, poster, slot);

    if (watchEnabled && qint64(it.parts.size()) == it.declaredTotal && watchMatches && watchMatches(slot) && addToBatch)
        addToBatch(slot);
}

} // namespace vt

namespace vt {

int expireBelow(HeaderStore &store, quint8 groupKey, qint32 firstAvailable, const std::function<void(int)> &removeFromBatch)
{
    int count = 0;
    for (int i = 1; i <= store.itemCount(); ++i) {
        HeaderItem &it = store.item(i);
        if (it.reusable || it.deleted) continue;
        for (const PartRecord &p : it.parts) {
            if (p.groupKey() == groupKey && p.articleNumber < firstAvailable) {
                it.deleted = it.reusable = true;
                if (removeFromBatch) removeFromBatch(i);
                ++count;
                ++store.freeSlotCount;
                break;
            }
        }
    }
    return count;
}

} // namespace vt
