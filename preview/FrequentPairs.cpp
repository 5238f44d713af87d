#include "FrequentPairs.h"

#include <QStringList>

#include <algorithm>
#include <cstring>
#include <tuple>

namespace {

constexpr size_t EtherTypeOffset = 12;
constexpr size_t Ipv4HeaderOffset = 14;
constexpr size_t Ipv4SourceOffset = Ipv4HeaderOffset + 12;
constexpr size_t Ipv4DestinationOffset = Ipv4HeaderOffset + 16;
constexpr size_t Ipv4Length = 4;
constexpr uint8_t Ipv4TypeHigh = 0x08;
constexpr uint8_t Ipv4TypeLow = 0x00;
constexpr uint8_t Ipv4Version = 4;
constexpr int VersionShift = 4;
constexpr int HexBase = 16;
constexpr int HexDigitsPerByte = 2;

QString addressText(TrafficPair::Kind kind, const std::array<uint8_t, 6> &bytes)
{
    QStringList parts;
    if (kind == TrafficPair::Kind::Ipv4) {
        for (size_t i = 0; i < Ipv4Length; ++i)
            parts << QString::number(bytes[i]);
        return parts.join(QLatin1Char('.'));
    }
    for (const uint8_t byte : bytes)
        parts << QStringLiteral("%1").arg(byte, HexDigitsPerByte, HexBase, QLatin1Char('0'));
    return parts.join(QLatin1Char(':'));
}

}  // namespace

bool TrafficPair::of(const uint8_t *frame, size_t capturedLength, TrafficPair *pair)
{
    *pair = TrafficPair();
    if (capturedLength >= Ipv4DestinationOffset + Ipv4Length
        && frame[EtherTypeOffset] == Ipv4TypeHigh && frame[EtherTypeOffset + 1] == Ipv4TypeLow
        && (frame[Ipv4HeaderOffset] >> VersionShift) == Ipv4Version) {
        pair->kind = Kind::Ipv4;
        std::memcpy(pair->source.data(), frame + Ipv4SourceOffset, Ipv4Length);
        std::memcpy(pair->destination.data(), frame + Ipv4DestinationOffset, Ipv4Length);
        return true;
    }
    if (capturedLength < 2 * AddressLength)
        return false;
    std::memcpy(pair->destination.data(), frame, AddressLength);
    std::memcpy(pair->source.data(), frame + AddressLength, AddressLength);
    return true;
}

QString TrafficPair::sourceText() const
{
    return addressText(kind, source);
}

QString TrafficPair::destinationText() const
{
    return addressText(kind, destination);
}

size_t FrequentPairs::Hash::operator()(const TrafficPair &pair) const
{
    uint64_t a = 0;
    uint64_t b = 0;
    std::memcpy(&a, pair.source.data(), pair.source.size());
    std::memcpy(&b, pair.destination.data(), pair.destination.size());
    // Multiplicative mixing: the low bits the table uses depend on every address byte.
    constexpr uint64_t Mix = 0x9E3779B97F4A7C15ull;
    const uint64_t h = (a * Mix) ^ ((b + static_cast<uint64_t>(pair.kind)) * Mix >> 7);
    return static_cast<size_t>(h ^ (h >> 29));
}

FrequentPairs::FrequentPairs(size_t capacity) : m_capacity(std::max<size_t>(capacity, 1))
{
    m_counts.reserve(m_capacity);
    m_heap.reserve(m_capacity);
    m_place.reserve(m_capacity);
    m_slotOf.reserve(m_capacity);
}

void FrequentPairs::add(const TrafficPair &pair)
{
    const auto found = m_slotOf.find(pair);
    size_t slot = 0;
    if (found != m_slotOf.end()) {
        slot = found->second;
    } else if (m_counts.size() < m_capacity) {
        slot = m_counts.size();
        m_counts.push_back({pair, 0, 0});
        m_place.push_back(m_heap.size());
        m_heap.push_back(slot);  // a count of 0 is the least: the heap holds without sifting
        m_slotOf.emplace(pair, slot);
    } else {
        slot = m_heap.front();
        m_approximate = true;
        m_slotOf.erase(m_counts[slot].pair);
        m_counts[slot].pair = pair;
        m_counts[slot].overstatedBy = m_counts[slot].frames;
        m_slotOf.emplace(pair, slot);
    }
    ++m_counts[slot].frames;
    siftDown(m_place[slot]);
}

void FrequentPairs::swapPlaces(size_t a, size_t b)
{
    std::swap(m_heap[a], m_heap[b]);
    m_place[m_heap[a]] = a;
    m_place[m_heap[b]] = b;
}

void FrequentPairs::siftDown(size_t position)
{
    const auto countAt = [this](size_t p) { return m_counts[m_heap[p]].frames; };
    for (;;) {
        size_t least = position;
        for (const size_t child : {2 * position + 1, 2 * position + 2}) {
            if (child < m_heap.size() && countAt(child) < countAt(least))
                least = child;
        }
        if (least == position)
            return;
        swapPlaces(position, least);
        position = least;
    }
}

QList<FrequentPairs::Count> FrequentPairs::top(int n) const
{
    std::vector<Count> sorted = m_counts;
    // Ties in address order, so the same traffic always lists the same pairs.
    const auto most = [](const Count &a, const Count &b) {
        return std::tie(b.frames, a.pair.kind, a.pair.source, a.pair.destination)
            < std::tie(a.frames, b.pair.kind, b.pair.source, b.pair.destination);
    };
    const auto end = sorted.begin() + std::min<ptrdiff_t>(n, static_cast<ptrdiff_t>(sorted.size()));
    std::partial_sort(sorted.begin(), end, sorted.end(), most);
    return QList<Count>(sorted.begin(), end);
}
