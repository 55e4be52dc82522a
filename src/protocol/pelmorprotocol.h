// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#ifndef PELMORPROTOCOL_H
#define PELMORPROTOCOL_H

#include <QByteArray>
#include <QMap>

// Byte layout of the bulk configuration report, kept apart from the class so
// that it can be checked at compile time.
namespace PelmorProtocolLayout {

constexpr int ReportSize = 32;
static_assert(ReportSize == 32, "the receiver takes exactly 32 bytes, report ID included");

struct FixedByte {
    int offset;
    unsigned char value;
};

// Constant bytes of the report beyond the report ID; offsets named nowhere
// here stay zero.
constexpr FixedByte FixedBytes[] = {
    { 5, 0xFF },
    { 17, 0x03 },
    { 19, 0x0A },
    { 20, 0x0B },
    { 21, 0x0C },
    { 23, 0x0E },
    { 24, 0x0D },
    { 27, 0x1E },
    { 31, 0x01 },
};
constexpr int SpeedOffset = 2;
constexpr int PollOffset = 4;
constexpr int WheelOffset = 22;
constexpr int GestureOffset = 25;

constexpr bool offsetsFit()
{
    for (const auto &fixed : FixedBytes) {
        if (fixed.offset <= PollOffset || fixed.offset >= ReportSize)
            return false;
    }
    return WheelOffset < ReportSize && GestureOffset < ReportSize;
}
static_assert(
    offsetsFit(), "every constant byte must lie inside the report, after the speed and polling bytes");

} // namespace PelmorProtocolLayout

// The receiver's wire protocol: the speed and polling translation tables and
// the 32-byte bulk configuration report. Everything here is stateless; every
// call builds its result afresh, so callers may modify what they receive.
class PelmorProtocol {
public:
    // Settings carried by the bulk configuration report.
    struct BulkConfig {
        int speedIndex = 4; // pointer speed level, 1..5
        int pollHz = 1000; // polling rate: 125, 250, 500 or 1000
        bool remapWheel = true;
        bool remapGesture = true;
    };

    static constexpr int BulkReportSize = PelmorProtocolLayout::ReportSize;
    static constexpr unsigned char BulkReportId = 0x10;
    // Bytes used when a level or rate has no table row: level 3, 1000 Hz.
    static constexpr unsigned char FallbackSpeedByte = 0x14;
    static constexpr unsigned char FallbackPollByte = 0x01;

    // Speed level -> speed byte. Never fails.
    static QMap<int, unsigned char> speedByteMap()
    {
        QMap<int, unsigned char> map;
        map.insert(1, 0x0A);
        map.insert(2, 0x0F);
        map.insert(3, 0x14);
        map.insert(4, 0x1C);
        map.insert(5, 0x23);
        return map;
    }

    // Speed byte -> speed level, the inverse of speedByteMap(). Never fails.
    static QMap<unsigned char, int> speedIndexFromByte() { return invert(speedByteMap()); }

    // Polling rate in Hz -> polling byte. Never fails.
    static QMap<int, unsigned char> pollByteMap()
    {
        QMap<int, unsigned char> map;
        map.insert(1000, 0x01);
        map.insert(500, 0x02);
        map.insert(250, 0x04);
        map.insert(125, 0x08);
        return map;
    }

    // Polling byte -> rate in Hz, the inverse of pollByteMap(). Never fails.
    static QMap<unsigned char, int> pollHzFromByte() { return invert(pollByteMap()); }

    // The bulk configuration report for config: always BulkReportSize bytes,
    // report ID first. Unknown levels and rates fall back silently to the
    // bytes of level 3 and 1000 Hz. Never fails.
    static QByteArray buildBulkPacket(const BulkConfig &config)
    {
        QByteArray packet(BulkReportSize, 0);
        set(packet, 0, BulkReportId);
        set(packet, 1, 0x00);
        set(packet, PelmorProtocolLayout::SpeedOffset,
            speedByteMap().value(config.speedIndex, FallbackSpeedByte));
        set(packet, 3, 0x00);
        set(packet, PelmorProtocolLayout::PollOffset, pollByteMap().value(config.pollHz, FallbackPollByte));
        for (const auto &fixed : PelmorProtocolLayout::FixedBytes)
            set(packet, fixed.offset, fixed.value);
        set(packet, PelmorProtocolLayout::WheelOffset, config.remapWheel ? 0x0F : 0x0C);
        set(packet, PelmorProtocolLayout::GestureOffset, config.remapGesture ? 0x10 : 0x2F);
        return packet;
    }

private:
    static void set(QByteArray &packet, int offset, unsigned char value)
    {
        packet[offset] = static_cast<char>(value);
    }

    // Walks the forward table in ascending key order, so a byte shared by two
    // keys would map back to the larger key.
    static QMap<unsigned char, int> invert(const QMap<int, unsigned char> &forward)
    {
        QMap<unsigned char, int> inverse;
        for (auto it = forward.constBegin(); it != forward.constEnd(); ++it)
            inverse.insert(it.value(), it.key());
        return inverse;
    }
};

#endif // PELMORPROTOCOL_H
