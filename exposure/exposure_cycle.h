// Pieces of the exposure cycle that are worth reaching on their own.
#ifndef NOCTIL_EXPOSURE_CYCLE_H
#define NOCTIL_EXPOSURE_CYCLE_H

#include <stddef.h>

// The snapshot window's title: "<outputName> - <framesWritten>/<frameCount>",
// or without "/<frameCount>" when there is no positive limit. A title that
// does not fit `size` keeps its count and loses the start of the file name
// instead, shown as "...".
void ComposeSnapshotTitle(char *title, size_t size);

// The output stream's format for the current capture size (app.outputFormat):
// the camera's 24-bit rows, each padded to four bytes.
void FillOutputFormat(void);

#endif  // NOCTIL_EXPOSURE_CYCLE_H
