// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "NativePath.h"

namespace {

constexpr char16_t EscapeBase = 0xDC00; // byte b (0x80..0xFF) is carried as U+DC00 + b

// Length of the well-formed UTF-8 sequence at Bytes[I], or 0 when it is not one
// (overlong forms, encoded surrogates and code points past U+10FFFF are not).
int WellFormedSequenceLength(const unsigned char* Bytes, int Size, int I, char32_t& CodePoint) {
    const unsigned char Lead = Bytes[I];
    int Length;
    char32_t Min;
    if (Lead < 0x80) {
        CodePoint = Lead;
        return 1;
    } else if ((Lead & 0xE0) == 0xC0) {
        Length = 2, Min = 0x80, CodePoint = Lead & 0x1F;
    } else if ((Lead & 0xF0) == 0xE0) {
        Length = 3, Min = 0x800, CodePoint = Lead & 0x0F;
    } else if ((Lead & 0xF8) == 0xF0) {
        Length = 4, Min = 0x10000, CodePoint = Lead & 0x07;
    } else {
        return 0;
    }
    if (I + Length > Size)
        return 0;
    for (int K = 1; K < Length; ++K) {
        const unsigned char Next = Bytes[I + K];
        if ((Next & 0xC0) != 0x80)
            return 0;
        CodePoint = (CodePoint << 6) | (Next & 0x3F);
    }
    if (CodePoint < Min || CodePoint > 0x10FFFF || (CodePoint >= 0xD800 && CodePoint <= 0xDFFF))
        return 0;
    return Length;
}

void AppendUtf8(QByteArray& Out, char32_t C) {
    if (C < 0x80) {
        Out.append(char(C));
    } else if (C < 0x800) {
        Out.append(char(0xC0 | (C >> 6)));
        Out.append(char(0x80 | (C & 0x3F)));
    } else if (C < 0x10000) {
        Out.append(char(0xE0 | (C >> 12)));
        Out.append(char(0x80 | ((C >> 6) & 0x3F)));
        Out.append(char(0x80 | (C & 0x3F)));
    } else {
        Out.append(char(0xF0 | (C >> 18)));
        Out.append(char(0x80 | ((C >> 12) & 0x3F)));
        Out.append(char(0x80 | ((C >> 6) & 0x3F)));
        Out.append(char(0x80 | (C & 0x3F)));
    }
}

} // namespace

QString PathFromNative(const QByteArray& Bytes) {
    const auto* Data = reinterpret_cast<const unsigned char*>(Bytes.constData());
    const int Size = int(Bytes.size());
    QString Path;
    Path.reserve(Size);
    for (int I = 0; I < Size;) {
        char32_t CodePoint;
        const int Length = WellFormedSequenceLength(Data, Size, I, CodePoint);
        if (Length == 0) {
            Path.append(QChar(char16_t(EscapeBase + Data[I])));
            ++I;
            continue;
        }
        if (CodePoint < 0x10000) {
            Path.append(QChar(char16_t(CodePoint)));
        } else {
            Path.append(QChar::highSurrogate(CodePoint));
            Path.append(QChar::lowSurrogate(CodePoint));
        }
        I += Length;
    }
    return Path;
}

QByteArray PathToNative(const QString& Path) {
    QByteArray Bytes;
    Bytes.reserve(Path.size());
    const qsizetype Size = Path.size();
    for (qsizetype I = 0; I < Size; ++I) {
        const char16_t Unit = Path.at(I).unicode();
        if (QChar::isHighSurrogate(Unit) && I + 1 < Size && Path.at(I + 1).isLowSurrogate()) {
            AppendUtf8(Bytes, QChar::surrogateToUcs4(Unit, Path.at(I + 1).unicode()));
            ++I;
        } else if (Unit >= EscapeBase + 0x80 && Unit <= EscapeBase + 0xFF) {
            Bytes.append(char(Unit - EscapeBase));
        } else if (QChar::isSurrogate(Unit)) {
            // Never produced by PathFromNative; no file can carry it, so it names none.
            AppendUtf8(Bytes, 0xFFFD);
        } else {
            AppendUtf8(Bytes, Unit);
        }
    }
    return Bytes;
}

QString IncludeTrailingPathDelimiter(const QString& Path) {
    return Path.endsWith(PathDelimiter) ? Path : Path + PathDelimiter;
}

QString ExcludeTrailingPathDelimiter(const QString& Path) {
    return Path.endsWith(PathDelimiter) ? Path.chopped(1) : Path;
}

QString ExtractFilePath(const QString& Path) {
    const qsizetype Last = Path.lastIndexOf(PathDelimiter);
    return Last < 0 ? QString() : Path.left(Last + 1);
}
