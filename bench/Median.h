// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The middle of a benchmark's rounds: steadier than the mean on a noisy machine.

#include <QList>
#include <algorithm>

inline double Median(QList<double> Values) {
    std::sort(Values.begin(), Values.end());
    return Values[Values.size() / 2];
}
