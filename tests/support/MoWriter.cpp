// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "MoWriter.h"

#include <algorithm>

namespace support {
namespace {

uint32_t HashString(const QByteArray& Key) {
    uint32_t Value = 0;
    for (unsigned char C : Key) {
        Value = (Value << 4) + C;
        const uint32_t High = Value & 0xF0000000u;
        if (High != 0) {
            Value ^= High >> 24;
            Value ^= High;
        }
    }
    return Value;
}

bool IsPrime(uint32_t N) {
    for (uint32_t D = 2; D * D <= N; ++D)
        if (N % D == 0)
            return false;
    return N > 1;
}

class TWriter {
public:
    explicit TWriter(bool BigEndian) : FBigEndian(BigEndian) {}
    void Word(uint32_t Value) {
        for (int I = 0; I < 4; ++I)
            FBytes.append(char(FBigEndian ? Value >> (24 - 8 * I) : Value >> (8 * I)));
    }
    QByteArray FBytes;

private:
    bool FBigEndian;
};

} // namespace

QByteArray BuildMo(TMoEntries Entries, bool BigEndian, bool WithHashTable,
                   const QByteArray& Charset) {
    QByteArray Header = "Project-Id-Version: test\n";
    if (!Charset.isEmpty())
        Header += "Content-Type: text/plain; charset=" + Charset + "\n";
    Entries.prepend({QByteArray(), Header});
    std::sort(Entries.begin(), Entries.end(),
              [](const auto& A, const auto& B) { return A.first < B.first; });
    const uint32_t Count = uint32_t(Entries.size());
    uint32_t HashSize = 0;
    if (WithHashTable) {
        HashSize = std::max<uint32_t>(3, Count * 4 / 3 + 1);
        while (!IsPrime(HashSize))
            ++HashSize;
    }
    const uint32_t OriginalsAt = 28, TranslationsAt = OriginalsAt + 8 * Count,
                   HashAt = TranslationsAt + 8 * Count, StringsAt = HashAt + 4 * HashSize;
    TWriter Out(BigEndian);
    Out.Word(0x950412DE);
    Out.Word(0);
    Out.Word(Count);
    Out.Word(OriginalsAt);
    Out.Word(TranslationsAt);
    Out.Word(HashSize);
    Out.Word(HashAt);
    QByteArray Strings;
    QList<std::pair<uint32_t, uint32_t>> Originals, Translations;
    for (const auto& [Original, Translation] : Entries) {
        Originals.append({uint32_t(Original.size()), StringsAt + uint32_t(Strings.size())});
        Strings += Original + '\0';
    }
    for (const auto& [Original, Translation] : Entries) {
        Translations.append({uint32_t(Translation.size()), StringsAt + uint32_t(Strings.size())});
        Strings += Translation + '\0';
    }
    for (const auto& [Length, Offset] : Originals + Translations) {
        Out.Word(Length);
        Out.Word(Offset);
    }
    QList<uint32_t> Table(HashSize, 0);
    for (uint32_t I = 0; I < Count && HashSize; ++I) {
        const uint32_t Hash = HashString(Entries[I].first);
        uint32_t Index = Hash % HashSize;
        const uint32_t Step = 1 + Hash % (HashSize - 2);
        while (Table[Index] != 0)
            Index = Index >= HashSize - Step ? Index - (HashSize - Step) : Index + Step;
        Table[Index] = I + 1;
    }
    for (uint32_t Slot : Table)
        Out.Word(Slot);
    return Out.FBytes + Strings;
}

} // namespace support
