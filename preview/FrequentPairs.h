#pragma once

#include <QList>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

// Who talks to whom in a frame: the IPv4 addresses of an IPv4 frame, else the Ethernet ones.
struct TrafficPair
{
    enum class Kind : uint8_t { Ethernet, Ipv4 };
    static constexpr size_t AddressLength = 6;

    Kind kind = Kind::Ethernet;
    std::array<uint8_t, AddressLength> source{};  // an IPv4 address uses the first four bytes
    std::array<uint8_t, AddressLength> destination{};

    // Nothing to tell for a frame too short to hold the Ethernet addresses.
    static bool of(const uint8_t *frame, size_t capturedLength, TrafficPair *pair);
    QString sourceText() const;
    QString destinationText() const;

    bool operator==(const TrafficPair &) const = default;
};

// The pairs seen most often, in memory bounded by the number of pairs it keeps whatever the
// traffic. Exact while no more distinct pairs have been seen than it keeps; beyond that it is
// the Space-Saving estimate: a pair newly taken in replaces the least counted one and inherits
// its count, so a count may be overstated by up to what it inherited, and every pair seen more
// often than the total divided by the capacity is still listed.
class FrequentPairs
{
public:
    static constexpr size_t DefaultCapacity = 1024;

    struct Count
    {
        TrafficPair pair;
        uint64_t frames = 0;
        uint64_t overstatedBy = 0;  // at most this many of the frames may be another pair's
    };

    explicit FrequentPairs(size_t capacity = DefaultCapacity);

    void add(const TrafficPair &pair);
    // The `n` most counted, most first.
    QList<Count> top(int n) const;
    // Some pair had to be let go: the counts are estimates.
    bool approximate() const { return m_approximate; }

private:
    struct Hash
    {
        size_t operator()(const TrafficPair &pair) const;
    };

    void siftDown(size_t position);
    void swapPlaces(size_t a, size_t b);

    const size_t m_capacity;
    std::vector<Count> m_counts;  // a slot per pair kept
    std::vector<size_t> m_heap;  // slots, least counted first
    std::vector<size_t> m_place;  // a slot's place in m_heap
    std::unordered_map<TrafficPair, size_t, Hash> m_slotOf;
    bool m_approximate = false;
};
