#include "app_state.h"

#include <string.h>

AppState app;

void InitAppState(void)
{
    // The state record is large (it holds the best-frame buffer), so it is
    // cleared in place rather than assigned from a temporary.
    memset(&app, 0, sizeof app);
    app.driverIndex = -1;
    app.SelectionState = SELECTION_ARMED;
    app.bestScore = 0;
    app.callbackDepth = -1;
    app.sampleIndex = -1;
}
