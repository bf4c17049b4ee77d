// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// The executable's entry point; the program itself is in the Harkavel unit, where tests reach it.
#include "Harkavel.h"

int main(int argc, char* argv[]) {
    return RunHarkavel(argc, argv);
}
