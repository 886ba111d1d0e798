#pragma once
// SIGTERM, SIGINT and SIGHUP end the program without waiting for anyone: a session end or a
// supervising script gets the unsaved edits kept in a recovery file, the settings file written and
// the connection closed, and the program's status tells whether all of that could be written. A
// second signal while that goes on ends the program at once.

class TMainWindow;

void CloseOnTerminationSignals(TMainWindow* window);
