// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// libFuzzer target: any bytes through the XML loader, and what loads back out as text.
#include "platform/Exceptions.h"
#include "xml/SimpleXML.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    QBuffer Buffer;
    Buffer.setData(reinterpret_cast<const char*>(Data), qsizetype(Size));
    Buffer.open(QIODevice::ReadOnly);
    IXmlDocument Document = CreateDocument("options", "1.0", QString());
    try {
        Document->LoadFromStream(Buffer);
    } catch (const Exception&) {
    }
    Document->Xml();
    if (IXmlElement Root = Document->DocumentElement())
        Root->ChildText("language", QString());
    return 0;
}
