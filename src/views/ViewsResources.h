#pragma once

// Registers the embedded resources of the views library (icons). The library
// is static, so its resources are registered only when a user calls this;
// the program and the tests call it once before they build a view. Calling it
// again does nothing.
void initViewsResources();
