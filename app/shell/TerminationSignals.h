#pragma once
// SIGTERM, SIGINT and SIGHUP close the main window as the operator would, so that a session end
// or a supervising script still gets the settings file written and the connection closed; a
// settings file that cannot be written then ends the program with status 1 rather than leaving it
// open where nobody may be to close it.

class TMainWindow;

void CloseOnTerminationSignals(TMainWindow* window);
