// The one global state of the user-interface thread. Only the user-interface thread
// reads or writes it; background threads reach the window by posting messages.
#pragma once

#include "app/config.h"

struct AppState {
    Config config;  // defaults until start-up replaces them with loadConfig()
};

extern AppState gApp;
