#pragma once
// Waiting on a condition while the Qt event loop runs, with a deadline instead of a fixed sleep.

#include <chrono>
#include <functional>

// Runs the event loop until predicate() holds or the timeout passes; answers predicate().
bool WaitUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout = std::chrono::seconds(5));
