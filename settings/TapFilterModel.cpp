#include "TapFilterModel.h"

#include <QStringList>

#include <algorithm>
#include <array>

#include "SettingValues.h"

namespace {

using Verdict = TapFilterModel::Verdict;

struct FieldPlace
{
    Setting setting;
    size_t offset;
};

// In ascending offset, so the compared bytes come out in frame order.
constexpr std::array<FieldPlace, 6> Places{{
    {Setting::EthDst, TapFilterModel::EthernetDestinationOffset},
    {Setting::EthSrc, TapFilterModel::EthernetSourceOffset},
    {Setting::EtherType, TapFilterModel::EtherTypeOffset},
    {Setting::IpProto, TapFilterModel::Ipv4ProtocolOffset},
    {Setting::IpSrc, TapFilterModel::Ipv4SourceOffset},
    {Setting::IpDst, TapFilterModel::Ipv4DestinationOffset},
}};

// libpcap loads one, two or four bytes at a time; the widest load makes the fewest tests.
constexpr std::array<size_t, 3> LoadWidths{4, 2, 1};
constexpr int HexDigitsPerByte = 2;
constexpr int HexBase = 16;
constexpr int BitsPerByte = 8;

}  // namespace

TapFilterModel::TapFilterModel(const DeviceSettings &settings)
    : m_enabled(settings.filterEnabled() != 0)
    , m_keepMatching(settings.keepMatching() != 0)
{
    for (const FieldPlace &place : Places) {
        const FilterPattern pattern = std::get<FilterPattern>(settingOf(settings, place.setting));
        const int width = syntaxOf(place.setting).width;
        for (int i = 0; i < width; ++i) {
            if (pattern.careMask & (1u << (width - 1 - i)))
                m_compared.push_back({place.offset + static_cast<size_t>(i), pattern.bytes[i]});
        }
    }
}

bool TapFilterModel::keepsEverything() const
{
    return !m_enabled || (m_keepMatching && m_compared.empty());
}

size_t TapFilterModel::shortestMatch() const
{
    return m_compared.empty() ? 0 : m_compared.back().offset + 1;
}

TapFilterModel::Verdict TapFilterModel::decide(const uint8_t *frame, size_t capturedLength,
                                               size_t wireLength) const
{
    if (!m_enabled)
        return Verdict::Keep;
    const Verdict matched = m_keepMatching ? Verdict::Keep : Verdict::Discard;
    const Verdict unmatched = m_keepMatching ? Verdict::Discard : Verdict::Keep;
    if (wireLength < shortestMatch())
        return unmatched;
    // A captured length above the wire length is a damaged record; only the shorter is real.
    const size_t atHand = std::min(capturedLength, wireLength);
    bool cut = false;
    for (const ComparedByte &compared : m_compared) {
        if (compared.offset >= atHand)
            cut = true;
        else if (frame[compared.offset] != compared.value)
            return unmatched;
    }
    return cut ? Verdict::Undecided : matched;
}

QString TapFilterModel::expression() const
{
    if (keepsEverything())
        return {};
    // The length test comes first: libpcap drops a frame outright when a test reads past its
    // end, even under "not", so a short frame must be decided before any byte is read.
    QStringList tests{QStringLiteral("len >= %1").arg(shortestMatch())};
    size_t i = 0;
    while (i < m_compared.size()) {
        size_t run = 1;
        while (i + run < m_compared.size()
               && m_compared[i + run].offset == m_compared[i].offset + run)
            ++run;
        for (const size_t width : LoadWidths) {
            for (; run >= width; run -= width, i += width) {
                uint32_t value = 0;
                for (size_t b = 0; b < width; ++b)
                    value = (value << BitsPerByte) | m_compared[i + b].value;
                const QString hex = QStringLiteral("0x%1").arg(
                    value, static_cast<int>(width) * HexDigitsPerByte, HexBase, QLatin1Char('0'));
                tests << (width == 1
                              ? QStringLiteral("ether[%1] = %2").arg(m_compared[i].offset).arg(hex)
                              : QStringLiteral("ether[%1:%2] = %3")
                                    .arg(m_compared[i].offset)
                                    .arg(width)
                                    .arg(hex));
            }
        }
    }
    const QString match = tests.join(QStringLiteral(" and "));
    return m_keepMatching ? match : QStringLiteral("not (%1)").arg(match);
}
