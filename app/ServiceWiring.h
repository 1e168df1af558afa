#pragma once

class CGlobal;

// Connects the services object to what lives in layers it does not see: the model updater of
// the model layer. Main thread, once, after the application object exists.
void WireServices(CGlobal& global);
