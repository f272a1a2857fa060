#pragma once
// How the core talks back to the user interface. The typed events, the sink and what a
// connection carries live with the engine, which reports through them (ftp/engine/Ports.h);
// the layers above include them from here.

#include "ftp/engine/Ports.h"
