// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The translation service: English interface texts looked up at run time in the GNU gettext
// MO catalogue of the current language, which lies beside the program.
//
// Translate runs on the main thread and on the update thread while the main thread may apply
// another language. Lookups take no lock: a catalogue, once read, is never changed or freed
// while the program runs, and each domain finds the catalogue of the current language through
// an atomic pointer. Applying a language and a domain's first lookup after it take a lock.

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

// A MO catalogue in memory, read by a reader of the published GNU format (either byte order).
// Every offset and length is checked against the file, so a corrupt or hostile file fails to
// open instead of being read past its end.
// A catalogue larger than this is treated as a broken one.
inline constexpr qint64 MaxCatalogueSize = 16 << 20;

// Marks a text for the catalogues' template where it is not translated on the spot: the
// window's layout texts (translated by TComponentTranslation), the HTTP client's status
// patterns, the service's refusals. It changes nothing; xgettext collects what it marks, as it
// collects the texts given to Translate and TranslateIn (po/CMakeLists.txt).
#define N_(Text) Text

class TMoFile {
public:
    // Null when the bytes are no well-formed catalogue.
    static std::unique_ptr<TMoFile> FromBytes(QByteArray Bytes);
    static std::unique_ptr<TMoFile> FromFile(const QString& Path);

    // The translation of Key (UTF-8), through the hash table when the file has a usable one,
    // else by binary search over the sorted originals.
    std::optional<std::string_view> Find(std::string_view Key) const;
    // The header: the translation of the empty text.
    std::string_view Header() const;
    uint32_t Count() const { return FCount; }

private:
    TMoFile() = default;
    bool Parse();
    uint32_t Word(size_t Offset) const;
    std::string_view Original(uint32_t Index) const;
    std::string_view Translation(uint32_t Index) const;
    std::optional<std::string_view> FindByHash(std::string_view Key) const;
    std::optional<std::string_view> FindBySearch(std::string_view Key) const;

    QByteArray FBytes;
    bool FSwapped = false;
    uint32_t FCount = 0;
    // Validated string locations: {offset, length} for each original and translation.
    std::vector<std::pair<uint32_t, uint32_t>> FOriginals, FTranslations;
    uint32_t FHashSize = 0, FHashOffset = 0;
};

class TGnuGetText {
public:
    using TMessageHandler = std::function<void(const QString& Caption, const QString& Text)>;

    TGnuGetText(); // applies the user's default language
    ~TGnuGetText();

    QString Translate(const QString& Text);
    QString TranslateIn(const QString& Domain, const QString& Text);
    // An empty code applies the user's default language.
    void SetCurrentLanguage(const QString& Code);
    QString CurrentLanguage() const;

    // The catalogue file of a language: the program's folder, the program file's name without
    // its extension, the catalogue code ("ca", "gl" and "eu" read "es"), ".mo".
    static QString CatalogueFile(const QString& LanguageCode);
    // LANG, else the platform's default locale as language_COUNTRY ("no" becomes "nb"),
    // without anything from the first ".".
    static QString UserDefaultLanguage();

    // How the "Localization problem" message reaches the user; the application installs a
    // message box at start. Without a handler the message goes to the debug output.
    void SetMessageHandler(TMessageHandler Handler);

private:
    // A domain's catalogue for one applied language; never changed once made.
    struct TBinding {
        uint64_t Generation;
        const TMoFile* Catalogue; // null: none, or the domain is switched off
    };
    struct TDomain {
        std::atomic<const TBinding*> Binding{nullptr};
        std::atomic<bool> SwitchedOff{false}; // for the rest of the run
    };
    QString Lookup(TDomain& Domain, const QString& Text);
    const TBinding* Bind(TDomain& Domain);
    const TMoFile* OpenCatalogue(const QString& Path);

    mutable std::mutex FLock; // applying a language, binding a domain, the owned lists
    QString FCurrentLanguage;
    std::atomic<uint64_t> FGeneration{0}; // counts the languages applied
    TDomain FDefaultDomain, FLanguagesDomain;
    std::vector<std::unique_ptr<TBinding>> FBindings;
    std::map<QString, std::unique_ptr<TMoFile>> FCatalogues; // by path; never freed before exit
    TMessageHandler FMessageHandler;
};

// The process's translation service, set up with the user's default language on first use.
TGnuGetText& DefaultInstance();

QString Translate(const QString& Text);
QString TranslateIn(const QString& Domain, const QString& Text);
void SetCurrentLanguage(const QString& Code);
QString CurrentLanguage();

class QObject;

// The translation of a window's own texts, and their translation again after a language change.
// Every text that was looked up is recorded with its object and its untranslated text, so a
// later language translates the layout text, not the translation. Main thread only.
class TComponentTranslation {
public:
    using TSetter = std::function<void(const QString& Text)>;

    // Every writable text property of Root and of the objects it owns, except the ignored ones
    // and objects marked with the no-translate property (GetTextIgnores).
    void TranslateComponent(QObject* Root);
    // A text the property walk cannot reach (a tab title, a column title): translated now,
    // set through Setter, and recorded like the others.
    void Add(QObject* Owner, const QString& Original, TSetter Setter);
    // Sets every recorded text again in the current language, if it changed since.
    void RetranslateComponent();

private:
    struct TRecord;
    std::vector<std::shared_ptr<TRecord>> FRecords;
    QString FLanguage;
};
