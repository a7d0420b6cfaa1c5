#pragma once
// The few things kyrctl asks of the operating system beyond Qt and the standard library.

namespace kyr::cli {

// Standard error is a terminal (progress may then redraw one line).
bool stderrIsTerminal();

// Ctrl-C and termination requests set a flag that the waits poll, so that kyrctl still
// ends the capture, releases the link and closes the port. A second request ends at once.
void installInterruptHandler();
bool interruptRequested();

}  // namespace kyr::cli
