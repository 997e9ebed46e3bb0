// Draws the window tree (as SnapshotScreen() reports it) into a cell grid.
#pragma once

#include <string>
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

// What each key does where the focus is (the device's dialog does not say), for the line under
// the screen: on the list, on the button, in a message box, or during a copy.
std::string KeyHint(const std::vector<wce::user::WindowView>& windows);

// Text broken into lines of at most width columns, at blanks where it can.
std::vector<std::u32string> WrapText(std::u32string_view text, int width);

}  // namespace wce::terminal
