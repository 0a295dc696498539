#pragma once
// The interactive run's work on a thread of its own, while this thread keeps
// the desktop answering and its progress window up to date.

#include "core/progress.h"

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

namespace kb {

// Runs `work` on a worker thread and serves the desktop meanwhile (see
// Desktop::watch); returns what it returns and throws what it throws, once
// it has ended. Called on the main thread, which owns the desktop: AppKit and
// GTK want their windows served by the thread that made them. The window's
// "Abbrechen" (or closing or destroying the window) is a stop, decided in one
// place with the work's last change: accepted until that change is in place,
// it always rolls the run back (the work notices it as a signal, and at its
// last change at the latest), also when asked before the work could be
// stopped; refused afterwards, when the window says so. Should the display go
// away or the system ask the program to quit meanwhile, the work is stopped
// the same way and the program ends with one line on standard error.
nlohmann::json runWatched(const std::string& title, const std::function<nlohmann::json(Progress&)>& work);

}  // namespace kb
