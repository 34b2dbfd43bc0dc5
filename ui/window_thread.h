#pragma once
// Carries out a piece of work on the thread that owns a window and waits for it, as a sent window
// message does.
#include <QObject>
#include <functional>

// Runs `work` on `window`'s thread before returning: directly when already there, else as a blocking
// queued call. The window thread never waits for the caller, so the two cannot block each other.
void RunOnWindowThread(QObject* window, const std::function<void()>& work);
