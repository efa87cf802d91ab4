#pragma once
#include "SimFrame.h"

#include <string>

// Which simulated card the process has. Without a selection no board is
// present, exactly as on a machine without a card; `orvane --simulate kona`
// selects the Kona board before start-up looks for cards.
namespace SimBoards {

enum class Board { none, kona, deckLink };

// Makes that board present in its starting state (environment applied) and
// the other one absent. Selecting again resets the board.
void selectKona();
void selectDeckLink();
void selectNone();
// "kona", "decklink" or "none"; false (nothing changed) for any other name.
bool select(const std::string &name);
Board selected();
const char *boardName(Board board);

// Copy of the frame now on the selected board's output, for the monitor
// window; false when that board has output nothing yet. Safe from any thread.
bool outputFrame(SimFrame &frame);
// Frames the selected board has output so far (0 without a board); cheaper
// than a copy, for noticing a new frame. Safe from any thread.
uint64_t outputSequence();

} // namespace SimBoards
