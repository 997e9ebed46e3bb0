// Draws the window tree (as SnapshotScreen() reports it) into a cell grid.
#pragma once

#include <vector>

#include "platform/display/terminal/cell_grid.h"
#include "platform/user/display.h"

namespace wce::terminal {

// Clears the grid, then draws the top-level windows bottom first with their visible children.
// Every cell a window draws on routes its clicks into that window's pixels, so a click lands on
// what the cell shows.
void PaintScreen(const std::vector<wce::user::WindowView>& windows, CellGrid& grid);

// The message shown instead of the screen when the terminal (the grid's size) is smaller than
// the emulated screen needs.
void PaintTooSmall(CellGrid& grid);

}  // namespace wce::terminal
