// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "Options.h"

#include "platform/DebugOutput.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "xml/SimpleXML.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <memory>

namespace {

std::unique_ptr<TOptions> TheOptions;

QString ApplicationDataFolder() {
    const QByteArray ConfigHome = qgetenv("XDG_CONFIG_HOME");
    if (!ConfigHome.isEmpty())
        return QFile::decodeName(ConfigHome);
    return QDir::homePath() + QStringLiteral("/.config");
}

QString SettingsFile() {
    return SettingsFolder() + QStringLiteral("Options.xml");
}

} // namespace

QString PendingDeletesFile() {
    return SettingsFolder() + QStringLiteral("PendingDeletes");
}

QString SettingsFolder() {
    QString Folder = ApplicationDataFolder();
    if (!Folder.endsWith(u'/'))
        Folder += u'/';
    Folder += QStringLiteral("Harkavel/");
    QDir().mkpath(Folder); // a failure shows later, when the file cannot be read or written
    return Folder;
}

TOptions::TOptions() {
    ReadFile();
}

TOptions::~TOptions() {
    try {
        WriteFile();
    } catch (...) {
        // At program end there is no window left to tell; the old file is still whole.
        OutputDebugString(QStringLiteral("Options not saved: ") +
                          ExceptionMessage(std::current_exception()));
    }
}

void TOptions::ReadFile() {
    const IXmlDocument Document = CreateDocument("options", "1.0", QString());
    try {
        // Only a regular file of sensible size: a FIFO in its place would hang the start, and
        // /dev/zero or a huge file would exhaust memory. Either is as good as no file.
        QByteArray Bytes;
        if (!ReadRegularFile(SettingsFile(), MaxSettingsFileSize, Bytes))
            return;
        QBuffer Stream(&Bytes);
        Stream.open(QIODevice::ReadOnly);
        Document->LoadFromStream(Stream);
        if (const IXmlElement Root = Document->DocumentElement())
            Language = Root->ChildText("language", QString());
    } catch (...) {
        // A broken file is as good as none: the language keeps what it had.
    }
}

void TOptions::WriteFile() const {
    const IXmlDocument Document = CreateDocument("options", "1.0", QString());
    Document->DocumentElement()->AddChildElement("language")->SetText(Language);
    Document->SaveToFile(SettingsFile());
}

TOptions& GetOptions() {
    if (!TheOptions)
        TheOptions = std::make_unique<TOptions>();
    return *TheOptions;
}

void FreeOptions() {
    TheOptions.reset();
}
