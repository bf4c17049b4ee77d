// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "Exceptions.h"

#include <cstring>

Exception::Exception(QString Message)
    : FMessage(std::move(Message)), FMessageUtf8(FMessage.toUtf8()) {}

EAssertionFailed::EAssertionFailed(const char* Unit, int Line)
    : Exception(
          QStringLiteral("Assertion failure (%1, line %2)").arg(QLatin1String(Unit)).arg(Line)),
      FUnit(Unit), FLine(Line) {}

QString ExceptionMessage(std::exception_ptr Error) {
    try {
        std::rethrow_exception(Error);
    } catch (const Exception& E) {
        return E.Message();
    } catch (const std::exception& E) {
        return QString::fromUtf8(E.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

QString SystemErrorText(int Error) {
    return QString::fromLocal8Bit(strerror(Error));
}
