// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The program's errors: raised inside the program with a message, shown or turned into a
// service status at the boundaries.

#include <QString>
#include <exception>

class Exception : public std::exception {
public:
    explicit Exception(QString Message);
    const QString& Message() const { return FMessage; }
    const char* what() const noexcept override { return FMessageUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FMessageUtf8;
};

// A broken invariant: "Assertion failure" naming the unit and the line that checked it.
class EAssertionFailed : public Exception {
public:
    EAssertionFailed(const char* Unit, int Line);
    const char* Unit() const { return FUnit; }
    int Line() const { return FLine; }

private:
    const char* FUnit;
    int FLine;
};

// Checks an invariant where it matters; the unit name is the one the message names.
#define HARKAVEL_ASSERT(condition, unit)                                                           \
    do {                                                                                           \
        if (!(condition))                                                                          \
            throw EAssertionFailed(unit, __LINE__);                                                \
    } while (false)

// The message of whatever escaped: ours, the standard library's, or an unknown throw.
QString ExceptionMessage(std::exception_ptr Error);

// The system's text for an errno value.
QString SystemErrorText(int Error);
