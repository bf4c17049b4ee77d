// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// Paths as the program carries them, and as the file system takes them.
//
// A Linux path is bytes, not text. Inside the program a path is a QString; bytes that are not
// valid UTF-8 are carried in it as lone surrogates U+DC80..U+DCFF (one per byte, the way
// Python's "surrogateescape" does), so every name the file system gives can be shown, compared,
// joined and handed back to reach the same file. Convert only where a path meets the file
// system or the engine.

#include <QByteArray>
#include <QString>

inline constexpr QChar PathDelimiter = u'/';

QString PathFromNative(const QByteArray& Bytes);
QByteArray PathToNative(const QString& Path);

QString IncludeTrailingPathDelimiter(const QString& Path);
QString ExcludeTrailingPathDelimiter(const QString& Path);
// The folder part of a path, with its trailing delimiter ("" when there is none).
QString ExtractFilePath(const QString& Path);
