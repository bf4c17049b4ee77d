// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// Widgets placed at fixed distances from their parent's edges, as the window's layout gives
// them in pixels: a layout manager adds spacing of its own and centres what it lines up, which
// moves them off the given numbers. Main thread only.

#include <QSize>
#include <functional>

class QWidget;

// Runs Place with the parent's size now, whenever the parent is resized or shown and whenever
// a child asks for a new layout (its text changed); Place sets each child's geometry from that
// size.
void PlaceOnResize(QWidget* Parent, std::function<void(const QSize& Size)> Place);
