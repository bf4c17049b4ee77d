// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "Interfaces.h"

namespace {
thread_local QString LastErrorMessage;
}

void SetErrorInfo(const QString& Message) {
    LastErrorMessage = Message;
}

QString GetErrorInfo() {
    return LastErrorMessage;
}

HRESULT SafeCallBoundary(const std::function<void()>& Body) {
    try {
        Body();
        return S_OK;
    } catch (const EServiceError& Error) { // a failure that carries a status of its own
        SetErrorInfo(Error.Message());
        return Error.Status() < 0 ? Error.Status() : E_UNEXPECTED;
    } catch (...) {
        SetErrorInfo(ExceptionMessage(std::current_exception()));
        return E_UNEXPECTED;
    }
}

void CheckServiceStatus(HRESULT Status) {
    if (Status < 0)
        CheckServiceStatus(Status, GetErrorInfo());
}

void CheckServiceStatus(HRESULT Status, const QString& ServiceMessage) {
    if (Status >= 0)
        return;
    QString Message = ServiceMessage;
    if (Message.isEmpty())
        Message = QStringLiteral("Service failure %1").arg(quint32(Status), 8, 16, QChar(u'0'));
    throw EServiceError(Message, Status);
}
