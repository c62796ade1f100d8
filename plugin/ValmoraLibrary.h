// What the plug-in's shared library does when the host loads and unloads it.
//
// Load adds the plug-in's process-wide state (the registry store its settings
// go through, its module state) to the engine's start-up and starts the
// engine, which creates the engine's state first and the plug-in's last;
// unload stops the engine, freeing all of it in reverse, and takes the
// plug-in's steps out again. The shared library calls them from its load and
// unload hooks; the plug-in's test programs call them around their tests.
#pragma once

namespace valmora {

// Raises when the engine is started already or a step fails (then nothing is
// left created).
void LibraryLoad();
// Never raises; nothing when not loaded.
void LibraryUnload() noexcept;

}  // namespace valmora
