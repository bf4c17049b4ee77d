// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "GnuGetText.h"

#include "GetTextIgnores.h"
#include "platform/DebugOutput.h"
#include "platform/FileSystem.h"
#include "platform/NativePath.h"
#include "platform/ProgramPath.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMetaProperty>
#include <QObject>
#include <QPointer>
#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t MoMagic = 0x950412DE;
constexpr uint32_t MoMagicSwapped = 0xDE120495;
constexpr size_t MoHeaderSize = 28;

// The hash function of GNU gettext's MO hash table (hashpjw on 32-bit words).
uint32_t HashString(std::string_view Key) {
    uint32_t Value = 0;
    for (unsigned char C : Key) {
        if (C == 0)
            break;
        Value = (Value << 4) + C;
        const uint32_t High = Value & 0xF0000000u;
        if (High != 0) {
            Value ^= High >> 24;
            Value ^= High;
        }
    }
    return Value;
}

bool DeclaresUtf8(std::string_view Header) {
    const QString Text = QString::fromUtf8(Header.data(), qsizetype(Header.size()));
    for (const QString& Line : Text.split(u'\n')) {
        if (Line.startsWith(QLatin1String("Content-Type:"), Qt::CaseInsensitive) &&
            Line.contains(QLatin1String("charset=utf-8"), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

// Every LF not already preceded by CR gets one.
QString AddCarriageReturns(const QString& Text) {
    if (!Text.contains(u'\n'))
        return Text;
    QString Out;
    Out.reserve(Text.size() + 8);
    for (qsizetype I = 0; I < Text.size(); ++I) {
        if (Text.at(I) == u'\n' && (I == 0 || Text.at(I - 1) != u'\r'))
            Out += u'\r';
        Out += Text.at(I);
    }
    return Out;
}

} // namespace

// --- The MO reader -------------------------------------------------------------------------

std::unique_ptr<TMoFile> TMoFile::FromBytes(QByteArray Bytes) {
    std::unique_ptr<TMoFile> File(new TMoFile);
    File->FBytes = std::move(Bytes);
    if (!File->Parse())
        return nullptr;
    return File;
}

std::unique_ptr<TMoFile> TMoFile::FromFile(const QString& Path) {
    QByteArray Bytes;
    if (!ReadRegularFile(Path, MaxCatalogueSize, Bytes))
        return nullptr; // a FIFO, a device or a huge file is as good as a broken catalogue
    return FromBytes(Bytes);
}

uint32_t TMoFile::Word(size_t Offset) const {
    uint32_t Value;
    std::memcpy(&Value, FBytes.constData() + Offset, sizeof Value);
    return FSwapped ? __builtin_bswap32(Value) : Value;
}

bool TMoFile::Parse() {
    const uint64_t Size = uint64_t(FBytes.size());
    if (Size < MoHeaderSize)
        return false;
    const uint32_t Magic = Word(0);
    if (Magic == MoMagicSwapped)
        FSwapped = true;
    else if (Magic != MoMagic)
        return false;
    const uint32_t Revision = Word(4);
    if ((Revision >> 16) > 1)
        return false; // a major revision this reader does not know
    FCount = Word(8);
    const uint64_t OriginalsAt = Word(12), TranslationsAt = Word(16);
    FHashSize = Word(20);
    FHashOffset = Word(24);
    // 64-bit sums cannot overflow here: every operand is below 2^35.
    if (OriginalsAt + 8ull * FCount > Size || TranslationsAt + 8ull * FCount > Size)
        return false;
    auto ReadTable = [&](uint64_t At, std::vector<std::pair<uint32_t, uint32_t>>& Table) {
        Table.reserve(FCount);
        for (uint32_t I = 0; I < FCount; ++I) {
            const uint32_t Length = Word(At + 8ull * I), Offset = Word(At + 8ull * I + 4);
            if (uint64_t(Offset) + Length > Size)
                return false;
            Table.emplace_back(Offset, Length);
        }
        return true;
    };
    if (!ReadTable(OriginalsAt, FOriginals) || !ReadTable(TranslationsAt, FTranslations))
        return false;
    // A hash table that does not fit, or is too small for double hashing, is not used.
    if (FHashSize < 3 || uint64_t(FHashOffset) + 4ull * FHashSize > Size)
        FHashSize = 0;
    return true;
}

std::string_view TMoFile::Original(uint32_t Index) const {
    return {FBytes.constData() + FOriginals[Index].first, FOriginals[Index].second};
}

std::string_view TMoFile::Translation(uint32_t Index) const {
    return {FBytes.constData() + FTranslations[Index].first, FTranslations[Index].second};
}

std::optional<std::string_view> TMoFile::Find(std::string_view Key) const {
    return FHashSize != 0 ? FindByHash(Key) : FindBySearch(Key);
}

std::optional<std::string_view> TMoFile::FindByHash(std::string_view Key) const {
    const uint32_t Hash = HashString(Key);
    uint32_t Index = Hash % FHashSize;
    const uint32_t Step = 1 + Hash % (FHashSize - 2);
    // A hostile table may have no empty slot: never probe more slots than it has.
    for (uint32_t Probe = 0; Probe < FHashSize; ++Probe) {
        const uint32_t Entry = Word(FHashOffset + 4ull * Index);
        if (Entry == 0)
            return std::nullopt;
        if (Entry <= FCount && Original(Entry - 1) == Key)
            return Translation(Entry - 1);
        Index = Index >= FHashSize - Step ? Index - (FHashSize - Step) : Index + Step;
    }
    return std::nullopt;
}

std::optional<std::string_view> TMoFile::FindBySearch(std::string_view Key) const {
    uint32_t Low = 0, High = FCount;
    while (Low < High) {
        const uint32_t Middle = Low + (High - Low) / 2;
        const int Order = Original(Middle).compare(Key);
        if (Order == 0)
            return Translation(Middle);
        if (Order < 0)
            Low = Middle + 1;
        else
            High = Middle;
    }
    return std::nullopt;
}

std::string_view TMoFile::Header() const {
    return Find(std::string_view()).value_or("");
}

// --- The service ---------------------------------------------------------------------------

TGnuGetText::TGnuGetText() {
    SetCurrentLanguage(QString());
}

TGnuGetText::~TGnuGetText() = default;

QString TGnuGetText::UserDefaultLanguage() {
    QString Code = qEnvironmentVariable("LANG");
    if (Code.isEmpty()) {
        const QLocale Locale = QLocale::system();
        if (Locale.language() == QLocale::C || Locale.language() == QLocale::AnyLanguage)
            return QStringLiteral("en"); // the platform names no locale
        QString Language = QLocale::languageToCode(Locale.language());
        if (Language == u"no")
            Language = QStringLiteral("nb");
        Code = Language + u'_' + QLocale::territoryToCode(Locale.territory());
    }
    const qsizetype Dot = Code.indexOf(u'.');
    return Dot < 0 ? Code : Code.left(Dot);
}

QString TGnuGetText::CatalogueFile(const QString& LanguageCode) {
    QString Code = LanguageCode.left(2);
    if (Code == u"ca" || Code == u"gl" || Code == u"eu")
        Code = QStringLiteral("es");
    const QString Program = ProgramFilePath();
    const QString Name = Program.mid(ExtractFilePath(Program).size());
    const qsizetype Dot = Name.lastIndexOf(u'.');
    return ExtractFilePath(Program) + (Dot > 0 ? Name.left(Dot) : Name) + Code +
           QStringLiteral(".mo");
}

void TGnuGetText::SetCurrentLanguage(const QString& Code) {
    const QString Applied = Code.isEmpty() ? UserDefaultLanguage() : Code;
    std::lock_guard Guard(FLock);
    FCurrentLanguage = Applied;
    // Every domain sees the new generation at its next lookup and binds the new catalogue.
    FGeneration.fetch_add(1, std::memory_order_release);
}

QString TGnuGetText::CurrentLanguage() const {
    std::lock_guard Guard(FLock);
    return FCurrentLanguage;
}

void TGnuGetText::SetMessageHandler(TMessageHandler Handler) {
    std::lock_guard Guard(FLock);
    FMessageHandler = std::move(Handler);
}

const TMoFile* TGnuGetText::OpenCatalogue(const QString& Path) {
    auto Found = FCatalogues.find(Path);
    if (Found != FCatalogues.end())
        return Found->second.get();
    std::unique_ptr<TMoFile> File = TMoFile::FromFile(Path);
    if (!File)
        return nullptr; // missing or broken: tried again when a language is applied again
    return FCatalogues.emplace(Path, std::move(File)).first->second.get();
}

const TGnuGetText::TBinding* TGnuGetText::Bind(TDomain& Domain) {
    QString Problem;
    TMessageHandler Handler;
    const TBinding* Bound;
    {
        std::lock_guard Guard(FLock);
        const uint64_t Generation = FGeneration.load(std::memory_order_acquire);
        const TBinding* Current = Domain.Binding.load(std::memory_order_acquire);
        if (Current != nullptr && Current->Generation == Generation)
            return Current; // another thread bound it meanwhile
        const TMoFile* Catalogue = nullptr;
        if (!Domain.SwitchedOff.load()) {
            const QString Path = CatalogueFile(FCurrentLanguage);
            Catalogue = OpenCatalogue(Path);
            if (Catalogue != nullptr && !DeclaresUtf8(Catalogue->Header())) {
                Catalogue = nullptr;
                Domain.SwitchedOff.store(true);
                Handler = FMessageHandler;
                Problem = QStringLiteral("The translation for the language code ") +
                          FCurrentLanguage + QStringLiteral(" (in ") + Path +
                          QStringLiteral(") does not have charset=utf-8 in its Content-Type. "
                                         "Translations are turned off.");
            }
        }
        FBindings.push_back(std::make_unique<TBinding>(TBinding{Generation, Catalogue}));
        Bound = FBindings.back().get();
        Domain.Binding.store(Bound, std::memory_order_release);
    }
    if (!Problem.isEmpty()) {
        if (Handler)
            Handler(QStringLiteral("Localization problem"), Problem);
        else
            OutputDebugString(Problem);
    }
    return Bound;
}

QString TGnuGetText::Lookup(TDomain& Domain, const QString& Text) {
    if (Text.isEmpty())
        return Text; // the empty key is the catalogue's header, never a translation
    QByteArray Key = Text.toUtf8();
    Key.replace("\r", "");
    const TBinding* Binding = Domain.Binding.load(std::memory_order_acquire);
    if (Binding == nullptr || Binding->Generation != FGeneration.load(std::memory_order_acquire))
        Binding = Bind(Domain);
    if (Binding->Catalogue != nullptr && !Domain.SwitchedOff.load())
        if (const auto Found =
                Binding->Catalogue->Find(std::string_view(Key.constData(), size_t(Key.size()))))
            return AddCarriageReturns(QString::fromUtf8(Found->data(), qsizetype(Found->size())));
    return AddCarriageReturns(QString::fromUtf8(Key));
}

QString TGnuGetText::Translate(const QString& Text) {
    return Lookup(FDefaultDomain, Text);
}

QString TGnuGetText::TranslateIn(const QString& Domain, const QString& Text) {
    if (Domain == u"default")
        return Lookup(FDefaultDomain, Text);
    if (Domain == u"languages")
        return Lookup(FLanguagesDomain, Text);
    return AddCarriageReturns(Text); // no such domain: nothing to look up in
}

TGnuGetText& DefaultInstance() {
    static TGnuGetText Instance;
    return Instance;
}

QString Translate(const QString& Text) {
    return DefaultInstance().Translate(Text);
}
QString TranslateIn(const QString& Domain, const QString& Text) {
    return DefaultInstance().TranslateIn(Domain, Text);
}
void SetCurrentLanguage(const QString& Code) {
    DefaultInstance().SetCurrentLanguage(Code);
}
QString CurrentLanguage() {
    return DefaultInstance().CurrentLanguage();
}

// --- Window texts --------------------------------------------------------------------------

struct TComponentTranslation::TRecord {
    QPointer<QObject> Owner;
    QString Original;
    TSetter Setter;
};

void TComponentTranslation::Add(QObject* Owner, const QString& Original, TSetter Setter) {
    if (Original.isEmpty())
        return;
    const QString Translated = Translate(Original);
    if (Translated != Original)
        Setter(Translated);
    FRecords.push_back(std::make_shared<TRecord>(TRecord{Owner, Original, std::move(Setter)}));
    FLanguage = CurrentLanguage();
}

void TComponentTranslation::TranslateComponent(QObject* Root) {
    QList<QObject*> Objects{Root};
    Objects += Root->findChildren<QObject*>();
    for (QObject* Object : Objects) {
        if (Object->property(NoTranslateProperty).toBool())
            continue;
        const QMetaObject* Meta = Object->metaObject();
        for (int I = 0; I < Meta->propertyCount(); ++I) {
            const QMetaProperty Property = Meta->property(I);
            if (Property.typeId() != QMetaType::QString || !Property.isWritable() ||
                !Property.isDesignable() || IsIgnoredTextProperty(Property.name()))
                continue;
            const QString Text = Property.read(Object).toString();
            Add(Object, Text,
                [Object, Property](const QString& Value) { Property.write(Object, Value); });
        }
    }
    FLanguage = CurrentLanguage();
}

void TComponentTranslation::RetranslateComponent() {
    const QString Language = CurrentLanguage();
    if (Language == FLanguage)
        return;
    for (const auto& Record : FRecords)
        if (Record->Owner)
            Record->Setter(Translate(Record->Original));
    FLanguage = Language;
}
