#include "SimBoards.h"

#include "SimDeckLinkBoard.h"
#include "SimKonaBoard.h"

#include <atomic>

namespace SimBoards {

namespace {
std::atomic<Board> g_selected{Board::none};
}

void selectKona()
{
    SimDeckLinkBoard::instance().reset(false);
    SimKonaBoard::instance().reset(true);
    g_selected = Board::kona;
}

void selectDeckLink()
{
    SimKonaBoard::instance().reset(false);
    SimDeckLinkBoard::instance().reset(true);
    g_selected = Board::deckLink;
}

void selectNone()
{
    SimKonaBoard::instance().reset(false);
    SimDeckLinkBoard::instance().reset(false);
    g_selected = Board::none;
}

bool select(const std::string &name)
{
    if (name == "kona")
        selectKona();
    else if (name == "decklink")
        selectDeckLink();
    else if (name == "none")
        selectNone();
    else
        return false;
    return true;
}

Board selected() { return g_selected; }

const char *boardName(Board board)
{
    switch (board) {
    case Board::kona: return "kona";
    case Board::deckLink: return "decklink";
    default: return "none";
    }
}

bool outputFrame(SimFrame &frame)
{
    switch (g_selected.load()) {
    case Board::kona: return SimKonaBoard::instance().outputFrame(frame);
    case Board::deckLink: return SimDeckLinkBoard::instance().outputFrame(frame);
    default: return false;
    }
}

uint64_t outputSequence()
{
    switch (g_selected.load()) {
    case Board::kona: return SimKonaBoard::instance().sequence();
    case Board::deckLink: return SimDeckLinkBoard::instance().sequence();
    default: return 0;
    }
}

} // namespace SimBoards
