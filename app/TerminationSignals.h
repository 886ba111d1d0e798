#pragma once
// SIGTERM, SIGINT and SIGHUP close the main window as the operator would, so that a session end
// or a supervising script still gets the settings file written and the connection closed.

class QWidget;

void CloseOnTerminationSignals(QWidget* window);
