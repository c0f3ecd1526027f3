#include "util/signalbridge.h"

// Windows ends GUI programs through window messages; nothing to bridge.
SignalBridge::SignalBridge() {}

SignalBridge *SignalBridge::instance()
{
    static SignalBridge *bridge = new SignalBridge;
    return bridge;
}

void SignalBridge::install()
{
    instance();
}
