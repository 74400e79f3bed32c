// The live stack as the program holds it: the stacker of the run, the image
// that waits to go in, the stretched view the window paints and the texts
// it shows. One is made with the program (InitLiveStack) and kept in
// AppState; only livestack/ looks inside.
#ifndef NOCTIL_LIVE_STACK_H
#define NOCTIL_LIVE_STACK_H

#include <vector>

#include "app_state.h"
#include "stack/stacker.h"
#include "stack/stretch.h"

// One line of the window for each of these, in this order from the top.
enum {
    STACK_LINE_COUNTS,
    STACK_LINE_FATE,
    STACK_LINE_STARS,
    STACK_LINE_SHIFT,
    STACK_LINE_CALIBRATION,
    STACK_LINE_FILE,
    STACK_LINES
};
#define STACK_LINE_SIZE 512

struct LiveStack {
    noctil::stack::Stacker stacker;
    // The run stacks: the window was open at Record or has been opened since
    // (closing it does not end the run's stack).
    BOOL active;
    // The image the cycle made last, with its exposure, until it goes in.
    BOOL waiting, waitingPaused;
    noctil::stack::ImageIn image;
    std::vector<BYTE> imageRows;
    // The images the cycle has made since Record.
    UINT imagesMade;
    // How the stack is shown; automatic until the user moves a level.
    noctil::stack::Stretcher stretcher;
    noctil::stack::StretchLevels levels;
    BOOL levelsByUser;
    noctil::stack::Histogram histogram;
    // The picture the window paints: the stretched stack with the histogram
    // below it, as one bottom-up 24-bit DIB.
    BITMAPINFOHEADER viewHeader;
    std::vector<BYTE> viewRows;
    std::uint32_t stackHeight;  // the stack's rows, above the histogram's
    char lines[STACK_LINES][STACK_LINE_SIZE];
};

// livestack/live_stack_view.cpp
// The view drawn again from the stack as it stands, at the levels chosen
// (found anew unless the user has moved one).
void RenderStackView(LiveStack *live);
// The window's texts and picture shown anew, where the window is open.
void ShowStackState(const LiveStack *live);
// A level button: Auto, or one level a step down or up.
LRESULT MoveStackLevel(WORD button);

#endif  // NOCTIL_LIVE_STACK_H
