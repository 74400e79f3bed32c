// The VNC server kept to this machine unless the user names another address.
#pragma once

namespace plat::qt {

// Reads QT_QPA_PLATFORM ("vnc:port=5901:addr=0.0.0.0") before Qt starts.
// False when the address given cannot be read: the program must not listen
// anywhere else.
bool prepareVncListen();

}  // namespace plat::qt
