// The camera control port: the data register of the parallel port, whose
// lines switch the camera's integration, amplifier and readout.
#include <conio.h>

#include "app_state.h"

// One byte to the data register sets all eight lines at once; the level
// stays until the next write. Nothing is read back and nothing waits.
void WriteCameraPort(BYTE value) { _outp(CAMERA_PORT_ADDRESS, value); }
