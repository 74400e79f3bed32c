// The levels of the camera's control lines on the parallel port's data
// register: what the program writes, and what the simulated camera, the image
// log and the status line read. Integration holds bits 0, 1 and 3; bit 2 on
// top holds the amplifier off. A readout level (bit 3 without bit 1) moves
// the integrated charge out: on interlaced video (480 or 576 lines)
// PORT_READOUT_480 the odd rows and a later PORT_READOUT the even rows, on
// other heights PORT_READOUT the whole frame.
#ifndef NOCTIL_CAMPORT_H
#define NOCTIL_CAMPORT_H

// The data register of the parallel port the camera is wired to.
#define CAMERA_PORT_ADDRESS 0x378

enum CameraPortValue : unsigned char {
    PORT_IDLE = 0x00,           // at rest: between images, after a run, at start-up and exit
    PORT_EXPOSE = 0x0B,         // integrating with the amplifier on
    PORT_EXPOSE_AMPOFF = 0x0F,  // integrating with the amplifier off
    PORT_READOUT = 0x08,        // readout: the whole frame, or the even rows of interlaced video
    PORT_READOUT_480 = 0x09,    // readout of interlaced video, first pass: the odd rows
};

// The lines within a level.
#define PORT_INTEGRATE_BITS 0x0B  // all set while the camera integrates
#define PORT_AMPOFF_BIT 0x04      // holds the amplifier off

#endif
