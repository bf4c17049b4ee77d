// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// libFuzzer target: any bytes as an MO catalogue, looked up by a few keys and by its own
// originals' neighbours.
#include "settings/GnuGetText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    const auto File =
        TMoFile::FromBytes(QByteArray(reinterpret_cast<const char*>(Data), qsizetype(Size)));
    if (!File)
        return 0;
    File->Header();
    for (const char* Key : {"Scan finished", "Update", "a", "", "Harkavel"})
        File->Find(Key);
    return 0;
}
